// The program's help: a help file named after the program, lying beside it ("updater.hlp").
// None is shipped. Asking for help without that file shows nothing at all, rather than a box
// saying that the help file is missing.
#pragma once

#include <windows.h>

#include <string>

// The help command of the dialog (WM_COMMAND) and of F1 (WM_HELP).
constexpr int ID_HELP = 57670;

// The running program's path with the extension ".hlp" in place of its own.
std::wstring HelpFilePath();
// Opens the help file for owner when it exists; true when it was asked to open.
bool ShowProgramHelp(HWND owner);
