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
    std::function<void()> begun;           // the server has begun to send the body
    bool program = true;                   // the body must be a program (a patch is not)
    RunReport* report = nullptr;           // shown the figures after each chunk
    DownloadTimings timings;
};

// A whole, checked download left where it was written, with its record, for a step that
// puts it in place elsewhere. A later run of the same offer finds it and asks for nothing.
struct HeldDownload {
    std::wstring path;  // empty when the download did not come whole (stopped, say)
    uint64_t size = 0;
    std::array<uint8_t, 32> sha256{};
};

class StagedFile;
class PartRecord;

// 0 when the new file is in place (or held) or the download was stopped, -1 on any failure.
// With held, path only names where the file is written: the whole file stays there as a part
// and is described in *held, and no notice of 100 is sent.
int DownloadFile(HWND notify, const GbkString& url, const std::wstring& path,
                 const DownloadHooks& hooks, HeldDownload* held = nullptr);

// Ends a whole, checked new file written in file: puts it in place of its target, says so and
// sends the notice of 100; or, with held, keeps it with the record that part saves and
// describes it. 0 when done, -1 on any failure.
int FinishDownload(HWND notify, StagedFile& file, PartRecord& part, const DownloadHooks& hooks,
                   HeldDownload* held);
