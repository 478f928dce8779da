// The command line of the one step that needs rights: the updater starts itself elevated with
// it when the installation folder cannot be written by the user. Everything the step needs
// travels on it, since the step may run under another account whose profile is not this one.
// The target never does: the step replaces the main program beside itself, whatever it is told.
//
//   updater.exe /install "<downloaded file>" <size> <sha256 hex> <version hex> <record hex>
//
// The file's full path is quoted as CommandLineToArgvW reads it (a path cannot hold a '"';
// backslashes before the closing quote are doubled). <size> is plain decimal, <sha256 hex> 64
// lowercase hex digits, and the texts are written as lowercase hex of their bytes, so that no
// value needs quoting; <record hex> is "-" in builds without a release key. Anything else is
// refused whole.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "GbkString.h"

// The verb, recognised before anything else the program does at start.
constexpr wchar_t kInstallVerb[] = L"/install";

struct InstallRequest {
    std::wstring file;  // the downloaded, checked file
    uint64_t size = 0;  // what the offer says the file is
    std::array<uint8_t, 32> sha256{};
    GbkString version;  // the offered version
    GbkString record;   // the signed record as received; empty when unsigned
};

// The arguments after the program's name.
std::wstring FormatInstallArguments(const InstallRequest& request);
// Whether the arguments (after the program's name) start with the verb: the step's command
// line, readable or not. Anything else is the dialog's.
bool IsInstallCommand(std::wstring_view arguments);
// True when the arguments (after the program's name) are an install request, read whole.
bool ParseInstallArguments(const wchar_t* arguments, InstallRequest& request);

// How the step ends. None is 0: a process that never reached the step exits 0.
enum class InstallExit : DWORD {
    Installed = 20,
    BadCommandLine = 21,  // not a request this step can read
    FileUnusable = 22,    // missing, unreadable, or held open for writing by another process
    NotTheOffer = 23,     // size, digest, signature or PE proof do not hold
    NotNewer = 24,        // its version is not the offered one, or not newer than installed
    CannotWrite = 25,     // the copy beside the main program could not be written
    CannotReplace = 26,   // the main program could not be replaced
};
