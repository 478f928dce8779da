#include "LoadInfo.h"

#include "LocalFiles.h"
#include "ServerProtocol.h"

namespace {
GbkString TitleFor(const GbkString& version) {
    return version.IsEmpty() ? GbkString("在线自动更新程序 (获取版本号错误)")
                             : "在线自动更新程序 V" + version;
}
}  // namespace

void LoadInfo(RunSettings settings, RunReport& report) {
    if (!report.Log("* 获取用户版本信息完成…!")) return;
    const GbkString version = GetFileVersionString(settings.mainProgram);
    report.InstalledVersion(version);
    report.Log("* 获取手动下载信息完成…!");

    GbkString reply;  // this thread's own, whatever the automatic run receives meanwhile
    FetchText(settings.manualUrl, reply, [&report] { return !report.Reachable(); });

    LinkTargets targets{settings.siteUrl, settings.logUrl, std::nullopt};
    if (!(reply == kFailureWord) && IsWebAddress(reply)) targets.manual = reply;
    report.Links(targets);
    report.Title(TitleFor(version));
}
