// What a run needs to know before it starts: the server's addresses and the main program's
// names, made once from the dialog and passed by value.
#pragma once

#include <windows.h>

#include <string>

#include "GbkString.h"

// Compiled into the program that links the dialog: the site's base address, and the vendor's
// public release key (base64 of the raw 64-byte X and Y; empty when releases are not signed).
extern const char kUpdaterSiteUrl[];
extern const char kUpdaterReleaseKey[];

// The editions of the main program that lie beside the updater.
constexpr char kTrialProgram[] = "Tanvik体验版.exe";
constexpr char kCommercialProgram[] = "Tanvik商业版.exe";

struct RunSettings {
    GbkString action;     // the update list's action: only "Auto" runs
    GbkString siteUrl;    // the vendor's home page, ending in "/"
    GbkString checkUrl;   // isweb.asp: may an update run now
    GbkString updateUrl;  // update.asp with the action: the offer
    GbkString manualUrl;  // update.asp?action=Hand: the manual-download page
    GbkString logUrl;     // log.asp: what changed
    GbkString releaseKey;
    GbkString mainProgramName;    // the file that is replaced, as processes are named
    std::wstring mainProgram;     // its full path, beside the updater
    std::wstring updaterProgram;  // this program, started again for the step with rights
    HWND noticeWindow = nullptr;  // receives the download's progress notices
};
