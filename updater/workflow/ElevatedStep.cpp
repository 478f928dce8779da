#include "ElevatedStep.h"

#include <objbase.h>
#include <shellapi.h>

#include "LocalFiles.h"

namespace {

// The shell may hand the request to extensions that need COM on the calling thread.
class ComApartment {
public:
    ComApartment()
        : m_initialised(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (m_initialised) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialised;
};

}  // namespace

StepLaunch MakeStepLaunch(const std::wstring& updaterPath, const InstallRequest& request) {
    return {.verb = L"runas",
            .program = updaterPath,
            .parameters = FormatInstallArguments(request),
            .folder = FolderOf(updaterPath)};
}

StepResult RunStep(HWND owner, const StepLaunch& launch) {
    const ComApartment apartment;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // No message box of the shell's own: a failure is told in the log.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = launch.verb.c_str();
    info.lpFile = launch.program.c_str();
    info.lpParameters = launch.parameters.c_str();
    info.lpDirectory = launch.folder.c_str();
    info.nShow = SW_HIDE;
    StepResult result;
    if (!ShellExecuteExW(&info)) {
        result.error = GetLastError();
        return result;
    }
    if (!info.hProcess) {
        // Started through something that gave no process to wait for: nothing is known.
        result.error = ERROR_INVALID_HANDLE;
        return result;
    }
    result.started = true;
    WaitForSingleObject(info.hProcess, INFINITE);
    if (!GetExitCodeProcess(info.hProcess, &result.exitCode)) result.exitCode = 0;
    CloseHandle(info.hProcess);
    return result;
}

StepOutcome JudgeStep(const StepResult& result) {
    if (!result.started)
        return result.error == ERROR_CANCELLED ? StepOutcome::Declined : StepOutcome::Failed;
    switch (static_cast<InstallExit>(result.exitCode)) {
        case InstallExit::Installed:
            return StepOutcome::Installed;
        case InstallExit::NotTheOffer:
        case InstallExit::NotNewer:
            return StepOutcome::NotTheOffer;
        default:
            return StepOutcome::Failed;
    }
}
