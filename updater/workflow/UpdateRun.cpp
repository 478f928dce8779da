#include "UpdateRun.h"

#include "DownloadFile.h"
#include "InstallId.h"
#include "KillProcess.h"
#include "NewVersionDownload.h"
#include "RunLines.h"
#include "LocalFiles.h"
#include "ReleaseSignature.h"
#include "ServerProtocol.h"
#include "SignedRecord.h"
#include "StagedFile.h"
#include "UpdateWithRights.h"
#include "UserDownloads.h"
#include "VersionOrder.h"

namespace {

// The offer as the record gives it. With a release key compiled in, only a record that the
// key's owner signed counts, and its file must be the one the record names. An empty reply
// offers nothing (an installation outside a rollout with no earlier release to offer).
bool ReadOffer(const GbkString& reply, const GbkString& releaseKey, Offer& offer) {
    if (releaseKey.IsEmpty() || reply.IsEmpty()) {
        offer.record = CutUpdateRecord(reply);
        return true;
    }
    SignedRecord record;
    ReleaseKey key;
    if (!ParseSignedRecord(reply, record) || !key.Load(releaseKey.c_str()) ||
        !key.Verifies(record.signedBytes, record.signature))
        return false;
    offer.record = {record.version, record.address};
    offer.expected = ExpectedFile{record.size, record.digest};
    offer.signedRecord = reply;
    return true;
}

// What a part of an update left in either place is no longer needed for (the update is in,
// or the installed program is as new as the offer, installed by hand perhaps).
void RemoveLeftovers(const std::wstring& target) {
    StagedFile::RemoveLeftover(target);
    const std::wstring userTarget = UserDownloadTarget(target);
    if (!userTarget.empty()) StagedFile::RemoveLeftover(userTarget);
}

DownloadHooks RunHooks(const RunSettings& settings, RunControl& control, RunReport& report,
                       const Offer& offer) {
    DownloadHooks hooks;
    hooks.expected = offer.expected;
    hooks.stopRequested = control.Stopper();
    hooks.version = offer.record.version;
    hooks.report = &report;
    hooks.resumed = [&report] { report.Log("* 正在继续上次未完成的下载…"); };
    hooks.rejected = [&report] { report.Log(kCheckFailedLine); };
    hooks.replaced = [&control, target = settings.mainProgram] {
        control.NewVersionInPlace();
        RemoveLeftovers(target);
    };
    return hooks;
}

// The update where this account can write: the running program is ended, and the download
// goes beside it and replaces it.
void UpdateInPlace(const RunSettings& settings, RunReport& report, const DownloadHooks& hooks,
                   const Offer& offer) {
    KillProcessByName(settings.mainProgramName.c_str(), settings.mainProgram);
    report.Log(kDownloadingLine);
    if (DownloadNewVersion(settings.noticeWindow, offer.record.address, settings.mainProgram,
                           settings.mainProgram, hooks, nullptr) != 0)
        report.Log(kUpdateFailedLine);
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

    // Only this request carries the installation's id, for a release offered to a share first.
    FetchText(settings.updateUrl, reply, control.Stopper(),
              InstallIdHeader(InstallationId(FolderOf(settings.mainProgram))));
    if (control.StopRequested()) return 3;
    if (reply == kFailureWord) {
        report.Log("* 获取远程列表失败,请检查您的网络!");
        return 3;
    }
    report.Log("* 分析更新列表完毕…");
    report.Stage(2);

    Offer offer;
    if (!ReadOffer(reply, settings.releaseKey, offer)) {
        report.Log(kCheckFailedLine);
        return 3;
    }
    const std::wstring& target = settings.mainProgram;
    // The installed version as the file has it now, whatever the other worker has read.
    if (!IsNewerVersion(GetFileVersionString(target), offer.record.version)) {
        RemoveLeftovers(target);
        report.Log("* 您当前已是最新版本，不需要更新!");
        return 3;
    }
    // Nothing but a web address is fetched, and that is known before the program is ended.
    if (!IsWebAddress(offer.record.address)) {
        report.Log(kUpdateFailedLine);
        return 3;
    }
    if (control.StopRequested()) return 3;
    const DownloadHooks hooks = RunHooks(settings, control, report, offer);
    // Nothing is ended for an update that could not be written beside the program.
    switch (StagedFile::CheckStaging(target)) {
        case StagedFile::Staging::Possible:
            UpdateInPlace(settings, report, hooks, offer);
            break;
        case StagedFile::Staging::NeedsRights:
            UpdateWithRights(settings, control, report, offer, hooks);
            break;
        case StagedFile::Staging::Blocked:
            report.Log(kUpdateFailedLine);
            break;
    }
    return 3;
}

}  // namespace

void RunUpdate(RunSettings settings, RunControl& control, RunReport& report) {
    RunEnd end(control, report);
    if (!report.RunBegun() || !report.ClearLog()) return;
    const int lastStage = RunStages(settings, control, report);
    if (lastStage != 0) report.Stage(lastStage);
}
