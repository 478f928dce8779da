#include "DialogLink.h"
#include "DownloadFile.h"
#include "KillProcess.h"
#include "LocalFiles.h"
#include "ReleaseSignature.h"
#include "ServerProtocol.h"
#include "SignedRecord.h"
#include "StagedFile.h"
#include "VersionOrder.h"
#include "WorkerProcs.h"

namespace {

const char kMainProgramName[] = "Tanvik体验版.exe";
const wchar_t kMainProgramSuffix[] = L"\\Tanvik体验版.exe";
const char kCheckFailed[] = "* 更新文件校验失败,已保留当前版本!";
const char kUpdateFailed[] = "* 自动更新失败,请重试或选择手动更新!";

// The offer as the record gives it. With a release key compiled in, only a record that the
// key's owner signed counts, and its file must be the one the record names.
bool ReadOffer(const GbkString& reply, UpdateRecord& offer, DownloadHooks& hooks) {
    if (kUpdaterReleaseKey[0] == '\0') {
        offer = CutUpdateRecord(reply);
        return true;
    }
    SignedRecord record;
    ReleaseKey key;
    if (!ParseSignedRecord(reply, record) || !key.Load(kUpdaterReleaseKey) ||
        !key.Verifies(record.signedBytes, record.signature))
        return false;
    offer = {record.version, record.address};
    hooks.expected = ExpectedFile{record.size, record.digest};
    return true;
}

// Every run, however it ends, clears the run marker and gives the Start button back.
class RunEnd {
public:
    explicit RunEnd(const DialogLink& link) : m_link(link) {}
    ~RunEnd() {
        m_link.With([](UpdateDialog& dialog) {
            dialog.m_pUpdateThread = nullptr;
            dialog.m_btnStart.EnableWindow(true);
        });
    }
    RunEnd(const RunEnd&) = delete;
    RunEnd& operator=(const RunEnd&) = delete;

private:
    const DialogLink& m_link;
};

struct RunSettings {
    GbkString action;
    GbkString checkUrl;
    GbkString updateUrl;
    HWND window = nullptr;
};

bool BeginRun(const DialogLink& link, RunSettings& settings) {
    return link.With([&settings](UpdateDialog& dialog) {
        dialog.m_btnStart.EnableWindow(false);
        dialog.m_progressStage.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 3));
        dialog.m_progressStage.SendMessage(PBM_SETPOS, 0);
        dialog.ClearLog();
        settings = {dialog.m_strAction, dialog.m_strCheckUrl, dialog.m_strUpdateUrl, dialog.m_hWnd};
    });
}

// The stages up to the download. Returns the stage bar's last position: 3 for every ending
// but the two silent ones, which leave it at 0.
int RunStages(const DialogLink& link, const RunSettings& settings) {
    if (!(settings.action == "Auto")) return 0;
    if (link.StopRequested()) return 3;
    link.Log("* 正在连接更新列表…");
    GbkString reply;
    FetchText(settings.checkUrl, reply, link.Stopper());
    if (link.StopRequested()) return 3;
    if (reply.IsEmpty()) return 0;
    if (!(reply == "true")) {
        link.Log("* 连接更新列表失败…");
        return 3;
    }
    link.Log("* 连接更新列表成功…");
    link.SetStage(1);

    FetchText(settings.updateUrl, reply, link.Stopper());
    if (link.StopRequested()) return 3;
    if (reply == kFailureWord) {
        link.Log("* 获取远程列表失败,请检查您的网络!");
        return 3;
    }
    link.Log("* 分析更新列表完毕…");
    link.SetStage(2);

    UpdateRecord offer;
    DownloadHooks hooks;
    if (!ReadOffer(reply, offer, hooks)) {
        link.Log(kCheckFailed);
        return 3;
    }
    const std::wstring target = GetModuleDir(kMainProgramSuffix);
    // The installed version as the file has it now, whatever the other worker has read.
    if (!IsNewerVersion(GetFileVersionString(target), offer.version)) {
        // A part of an update that is no longer needed (it may have been installed by hand).
        StagedFile::RemoveLeftover(target);
        link.Log("* 您当前已是最新版本，不需要更新!");
        return 3;
    }
    // Nothing but a web address is fetched, and that is known before the program is ended.
    if (!IsWebAddress(offer.address)) {
        link.Log(kUpdateFailed);
        return 3;
    }
    if (link.StopRequested()) return 3;
    // Nothing is ended for an update that could not even be written beside the program.
    if (!StagedFile::CanStage(target)) {
        link.Log(kUpdateFailed);
        return 3;
    }
    KillProcessByName(kMainProgramName, target);
    link.Log("* 发现新版本,正在下载最新版本!…");
    hooks.stopRequested = link.Stopper();
    hooks.version = offer.version;
    hooks.resumed = [&link] { link.Log("* 正在继续上次未完成的下载…"); };
    hooks.rejected = [&link] { link.Log(kCheckFailed); };
    hooks.replaced = [&link] {
        link.With([](UpdateDialog& dialog) { dialog.m_bNewVersionInPlace = true; });
    };
    if (DownloadFile(settings.window, offer.address, target, hooks) != 0) link.Log(kUpdateFailed);
    return 3;
}

}  // namespace

UINT AutoUpdateProc(LPVOID parameter) {
    const DialogLink link(static_cast<UpdateDialog*>(parameter));
    RunEnd end(link);
    RunSettings settings;
    if (!BeginRun(link, settings)) return 0;
    const int lastStage = RunStages(link, settings);
    if (lastStage != 0) link.SetStage(lastStage);
    return 0;
}
