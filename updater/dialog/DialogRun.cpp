#include "DialogRun.h"

#include "LocalFiles.h"
#include "ModulePath.h"
#include "ObjectLifetime.h"
#include "UpdateDialog.h"

DialogRun::DialogRun(UpdateDialog* dialog) : m_dialog(dialog) {
    ObjectLifetime::Access access(dialog);
    if (!access) return;
    const GbkString folder = dialog->m_strSiteUrl + dialog->m_strUpdateDir;
    m_settings = {.action = dialog->m_strAction,
                  .siteUrl = dialog->m_strSiteUrl,
                  .checkUrl = dialog->m_strCheckUrl,
                  .updateUrl = dialog->m_strUpdateUrl,
                  .manualUrl = folder + "update.asp?action=Hand",
                  .logUrl = folder + "log.asp",
                  .releaseKey = kUpdaterReleaseKey,
                  .mainProgramName = kTrialProgram,
                  .mainProgram = ProductFile(kTrialProgram),
                  .updaterProgram = ModuleFileName(),
                  .noticeWindow = dialog->m_hWnd};
    m_control.emplace(dialog, dialog->m_pUpdateThread, dialog->m_bDownloadRunning,
                      dialog->m_bNewVersionInPlace);
}

template <typename Entry>
bool DialogRun::Send(Entry entry) {
    ObjectLifetime::Access access(m_dialog);
    if (!access) return false;
    m_dialog->Queue(std::move(entry));
    return true;
}

bool DialogRun::Log(const GbkString& line) {
    return Send(report::LogLine{line});
}

bool DialogRun::ClearLog() {
    return Send(report::LogCleared{});
}

bool DialogRun::RunBegun() {
    return Send(report::RunBegun{});
}

bool DialogRun::Stage(int position) {
    return Send(report::StageReached{position});
}

bool DialogRun::Download(const DownloadFigures& figures) {
    return Send(figures);
}

bool DialogRun::InstalledVersion(const GbkString& version) {
    return Send(report::VersionRead{version});
}

bool DialogRun::Links(const LinkTargets& targets) {
    return Send(targets);
}

bool DialogRun::Title(const GbkString& title) {
    return Send(report::TitleSet{title});
}

bool DialogRun::StepStarted() {
    return Send(report::StepStarted{});
}

bool DialogRun::RunEnded() {
    return Send(report::RunEnded{});
}

bool DialogRun::Reachable() const {
    ObjectLifetime::Access access(m_dialog);
    return static_cast<bool>(access);
}
