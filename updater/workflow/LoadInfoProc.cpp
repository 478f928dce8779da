#include <string>

#include "DialogLink.h"
#include "LocalFiles.h"
#include "ServerProtocol.h"
#include "WorkerProcs.h"
#include "resource_ids.h"

namespace {

const wchar_t kMainProgramSuffix[] = L"\\Tanvik体验版.exe";

struct Addresses {
    GbkString site;
    GbkString manual;
    GbkString log;
};

GbkString TitleFor(const GbkString& version) {
    return version.IsEmpty() ? GbkString("在线自动更新程序 (获取版本号错误)")
                             : "在线自动更新程序 V" + version;
}

}  // namespace

// Reads the installed version, asks the server for the manual-download page and gives the
// three links their targets and the hand cursor, then puts the version into the title.
UINT LoadInfoProc(LPVOID parameter) {
    const DialogLink link(static_cast<UpdateDialog*>(parameter));
    Addresses addresses;
    const bool alive = link.With([&addresses](UpdateDialog& dialog) {
        const GbkString folder = dialog.m_strSiteUrl + dialog.m_strUpdateDir;
        addresses = {dialog.m_strSiteUrl, folder + "update.asp?action=Hand", folder + "log.asp"};
        dialog.AppendLog("* 获取用户版本信息完成…!");
    });
    if (!alive) return 0;

    // The automatic run reads the installed version for itself and nothing else reads this
    // member, so writing it here races with nobody; the title uses the local copy.
    const GbkString version = GetFileVersionString(GetModuleDir(kMainProgramSuffix));
    link.With([&version](UpdateDialog& dialog) {
        dialog.m_strLocalVersion = version;
        dialog.AppendLog("* 获取手动下载信息完成…!");
    });

    GbkString reply;  // this thread's own, whatever the automatic run receives meanwhile
    FetchText(addresses.manual, reply, [&link] { return !link.With([](UpdateDialog&) {}); });

    HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_HAND_CURSOR));
    link.With([&](UpdateDialog& dialog) {
        if (reply == kFailureWord || !IsWebAddress(reply)) {
            dialog.m_lnkManual.EnableWindow(false);
        } else {
            dialog.m_lnkManual.SetLinkTarget(reply);
            dialog.m_lnkManual.SetHandCursor(hand);
        }
        dialog.m_lnkHome.SetLinkTarget(addresses.site);
        dialog.m_lnkHome.SetHandCursor(hand);
        dialog.m_lnkLog.SetLinkTarget(addresses.log);
        dialog.m_lnkLog.SetHandCursor(hand);
        dialog.SetWindowText(TitleFor(version));
    });
    return 0;
}
