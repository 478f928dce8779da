#include "UpdateRun.h"

#include "DownloadFile.h"
#include "KillProcess.h"
#include "LocalFiles.h"
#include "ReleaseSignature.h"
#include "ServerProtocol.h"
#include "SignedRecord.h"
#include "StagedFile.h"
#include "VersionOrder.h"

namespace {

const char kCheckFailed[] = "* 更新文件校验失败,已保留当前版本!";
const char kUpdateFailed[] = "* 自动更新失败,请重试或选择手动更新!";

// The offer as the record gives it. With a release key compiled in, only a record that the
// key's owner signed counts, and its file must be the one the record names.
bool ReadOffer(const GbkString& reply, const GbkString& releaseKey, UpdateRecord& offer,
               DownloadHooks& hooks) {
    if (releaseKey.IsEmpty()) {
        offer = CutUpdateRecord(reply);
        return true;
    }
    SignedRecord record;
    ReleaseKey key;
    if (!ParseSignedRecord(reply, record) || !key.Load(releaseKey.c_str()) ||
        !key.Verifies(record.signedBytes, record.signature))
        return false;
    offer = {record.version, record.address};
    hooks.expected = ExpectedFile{record.size, record.digest};
    return true;
}

// The stages up to the download. Returns the stage bar's last position: 3 for every ending
// but the two silent ones, which leave it at 0.
int RunStages(const RunSettings& settings, RunControl& control, RunReport& report) {
    if (!(settings.action == "Auto")) return 0;
    if (control.StopRequested()) return 3;
    report.Log("* 正在连接更新列表…");
    GbkString reply;
    FetchText(settings.checkUrl, reply, control.Stopper());
    if (control.StopRequested()) return 3;
    if (reply.IsEmpty()) return 0;
    if (!(reply == "true")) {
        report.Log("* 连接更新列表失败…");
        return 3;
    }
    report.Log("* 连接更新列表成功…");
    report.Stage(1);

    FetchText(settings.updateUrl, reply, control.Stopper());
    if (control.StopRequested()) return 3;
    if (reply == kFailureWord) {
        report.Log("* 获取远程列表失败,请检查您的网络!");
        return 3;
    }
    report.Log("* 分析更新列表完毕…");
    report.Stage(2);

    UpdateRecord offer;
    DownloadHooks hooks;
    if (!ReadOffer(reply, settings.releaseKey, offer, hooks)) {
        report.Log(kCheckFailed);
        return 3;
    }
    const std::wstring& target = settings.mainProgram;
    // The installed version as the file has it now, whatever the other worker has read.
    if (!IsNewerVersion(GetFileVersionString(target), offer.version)) {
        // A part of an update that is no longer needed (it may have been installed by hand).
        StagedFile::RemoveLeftover(target);
        report.Log("* 您当前已是最新版本，不需要更新!");
        return 3;
    }
    // Nothing but a web address is fetched, and that is known before the program is ended.
    if (!IsWebAddress(offer.address)) {
        report.Log(kUpdateFailed);
        return 3;
    }
    if (control.StopRequested()) return 3;
    // Nothing is ended for an update that could not even be written beside the program.
    if (!StagedFile::CanStage(target)) {
        report.Log(kUpdateFailed);
        return 3;
    }
    KillProcessByName(settings.mainProgramName.c_str(), target);
    report.Log("* 发现新版本,正在下载最新版本!…");
    hooks.stopRequested = control.Stopper();
    hooks.version = offer.version;
    hooks.report = &report;
    hooks.resumed = [&report] { report.Log("* 正在继续上次未完成的下载…"); };
    hooks.rejected = [&report] { report.Log(kCheckFailed); };
    hooks.replaced = [&control] { control.NewVersionInPlace(); };
    if (DownloadFile(settings.noticeWindow, offer.address, target, hooks) != 0)
        report.Log(kUpdateFailed);
    return 3;
}

}  // namespace

void RunUpdate(RunSettings settings, RunControl& control, RunReport& report) {
    RunEnd end(control, report);
    if (!report.RunBegun() || !report.ClearLog()) return;
    const int lastStage = RunStages(settings, control, report);
    if (lastStage != 0) report.Stage(lastStage);
}
