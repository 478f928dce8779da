// Downloads the new main program over the installed one. The body goes to a staged file
// beside the target and replaces it only when it is whole and looks like a program, so a
// failed, stopped or broken download leaves the installed file as it was. A dropped or stalled
// connection is resumed where it stood; a part that a stop, a failed run or a kill leaves is
// kept with its record, and the next run that finds the same offer goes on from it. Meanwhile the
// report is given the size, speed and percentage, and the window a notice when the percentage
// has changed (four times a second at most); the notice with 100 comes only once the new file
// is in place.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "DownloadRecord.h"
#include "GbkString.h"
#include "RunReport.h"
#include "ServerProtocol.h"

// How long the network may stay silent before a try counts as failed, and the pause before
// the first try again (doubled after each try that brings nothing). The tests shorten them.
struct DownloadTimings {
    DWORD silenceLimitMs = 60000;
    DWORD firstPauseMs = 1000;
};

struct DownloadHooks {
    StopCheck stopRequested;               // Stop was pressed, or the dialog has gone
    std::function<void()> replaced;        // the new file stands in the target's place
    std::optional<ExpectedFile> expected;  // the body must be exactly this file
    std::function<void()> rejected;        // the body was not the expected file
    GbkString version;                     // the offered version: with the address, names the offer
    std::function<void()> resumed;         // the download goes on from a part in hand
    RunReport* report = nullptr;           // shown the figures after each chunk
    DownloadTimings timings;
};

// 0 when the new file is in place or the download was stopped, -1 on any failure.
int DownloadFile(HWND notify, const GbkString& url, const std::wstring& path,
                 const DownloadHooks& hooks);
