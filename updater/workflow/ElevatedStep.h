// Asking Windows for rights for the one step that needs them: the updater starts itself with
// the install verb through the shell's "runas", which shows the consent prompt (or asks for an
// administrator's password on a standard account), and waits for the step to end.
#pragma once

#include <windows.h>

#include <string>

#include "InstallCommand.h"

// What is handed to the shell: the verb, the program, its arguments and working folder.
struct StepLaunch {
    std::wstring verb;
    std::wstring program;
    std::wstring parameters;
    std::wstring folder;
};
// The step for request, run by the updater at updaterPath in its own folder (the installation
// folder, whose main program the step replaces).
StepLaunch MakeStepLaunch(const std::wstring& updaterPath, const InstallRequest& request);

// How a request for the step went: whether it started (else the system's error, with
// ERROR_CANCELLED for a declined prompt) and, if it did, the step's exit code.
struct StepResult {
    bool started = false;
    DWORD error = ERROR_SUCCESS;
    DWORD exitCode = 0;
};
// Blocks until the step has ended, or could not start. owner: the window that the prompt
// belongs to.
StepResult RunStep(HWND owner, const StepLaunch& launch);

enum class StepOutcome {
    Installed,
    Declined,     // the user said no: nothing was ended or changed
    NotTheOffer,  // the step found the file was not the offer, or not newer: it goes
    Failed,       // anything else: the file stays for the next run
};
StepOutcome JudgeStep(const StepResult& result);
