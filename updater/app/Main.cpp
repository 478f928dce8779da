#include <windows.h>

#include "CommandLine.h"
#include "InstallStep.h"
#include "RunSettings.h"
#include "UpdaterApp.h"

namespace {
UpdaterApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const wchar_t* commandLine = GetCommandLineW();
    // The step that runs with rights, started by an updater that holds the single-instance
    // marker and shows the dialog: no marker, no skin, no window, no network of its own.
    const std::wstring_view arguments = CommandLineTail(commandLine);
    if (IsInstallCommand(arguments))
        return static_cast<int>(RunInstallCommand(arguments.data(), kUpdaterReleaseKey));
    return theApp.Run(instance, commandLine);
}
