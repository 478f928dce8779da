// Opening a hyperlink's target: the shell first; when the shell answers exactly 32 (its DLL
// was not found), the command registered for ".htm" files, given the target as one quoted
// argument. Results follow the shell's convention: above 32 means opened.
#pragma once

#include <windows.h>

#include <string>

#include "GbkString.h"

// Asks the shell to open target with the show command; the shell's result.
using ShellOpen = int (*)(const std::wstring& target, int show);
int ShellOpenTarget(const std::wstring& target, int show);

int OpenLinkTarget(const GbkString& target, int show, ShellOpen shell = ShellOpenTarget);

// The ".htm" command line for target: the registered command cut at its "%1" placeholder
// (with the placeholder's quotes), a blank, then the target in double quotes. Empty when
// nothing usable is registered or the target holds a double quote.
std::wstring HtmCommandFor(const GbkString& target);

// Starts a command line as WinExec would and answers as it does: 33 when started, else a
// code below 32 (2 file not found, 3 path not found, 11 bad format, ...).
int StartCommand(const std::wstring& commandLine, int show);

// The default value of a key of root, or ERROR_SUCCESS's opposite when there is none.
LONG ReadRegistryDefault(HKEY root, const std::wstring& subKey, std::wstring& value);

// "Unable to open hyperlink:\n\n" and the reason for a failed open's result code.
std::string OpenErrorText(int code);
// The running program's file name without folder and extension ("updater").
std::wstring ProgramBaseName();
// Shows that text in an exclamation box owned by owner's top-level window, with the
// program's name as its caption.
void ShowOpenError(HWND owner, int code);
