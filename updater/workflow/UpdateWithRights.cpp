#include "UpdateWithRights.h"

#include "DownloadNotice.h"
#include "ElevatedStep.h"
#include "NewVersionDownload.h"
#include "RunLines.h"
#include "StagedFile.h"
#include "UserDownloads.h"

namespace {

const char kAskingRights[] = "* 正在请求管理员权限以安装新版本…";
const char kDeclined[] = "* 更新需要管理员权限,已保留当前版本!";

// The step failed for a reason of its own: its code goes into the line, for whoever helps.
GbkString StepFailedLine(const StepResult& result) {
    GbkString line;
    line.Format("* 安装新版本失败(错误 %lu),已保留当前版本!",
                static_cast<unsigned long>(result.started ? result.exitCode : result.error));
    return line;
}

// Asks for the step and tells how it went. The held file goes once it is installed, or once
// the step has found it is not what was offered.
void InstallHeld(const RunSettings& settings, RunControl& control, RunReport& report,
                 const Offer& offer, const HeldDownload& held, const std::wstring& userTarget) {
    const InstallRequest request{.file = held.path,
                                 .size = held.size,
                                 .sha256 = held.sha256,
                                 .version = offer.record.version,
                                 .record = offer.signedRecord};
    report.Log(kAskingRights);
    report.StepStarted();
    const StepResult result =
        RunStep(settings.noticeWindow, MakeStepLaunch(settings.updaterProgram, request));
    switch (JudgeStep(result)) {
        case StepOutcome::Installed:
            StagedFile::RemoveLeftover(userTarget);
            control.NewVersionInPlace();
            PostMessageW(settings.noticeWindow, WM_DOWNLOAD_PROGRESS, 100, 0);
            return;
        case StepOutcome::Declined:
            report.Log(kDeclined);
            return;
        case StepOutcome::NotTheOffer:
            StagedFile::RemoveLeftover(userTarget);
            report.Log(kCheckFailedLine);
            return;
        case StepOutcome::Failed:
            report.Log(StepFailedLine(result));
            return;
    }
}

}  // namespace

void UpdateWithRights(const RunSettings& settings, RunControl& control, RunReport& report,
                      const Offer& offer, const DownloadHooks& hooks) {
    const std::wstring userTarget = UserDownloadTarget(settings.mainProgram);
    if (userTarget.empty() || !MakeUserDownloadFolder(userTarget)) {
        report.Log(kUpdateFailedLine);
        return;
    }
    report.Log(kDownloadingLine);
    HeldDownload held;
    if (DownloadNewVersion(settings.noticeWindow, offer.record.address, settings.mainProgram,
                           userTarget, hooks, &held) != 0) {
        report.Log(kUpdateFailedLine);
        return;
    }
    // Stopped during the download, or just after it: the file waits for the next run.
    if (held.path.empty() || control.StopRequested()) return;
    InstallHeld(settings, control, report, offer, held, userTarget);
}
