// Downloads the new main program over the installed one. The body goes to a staged file
// beside the target and replaces it only when it is whole and looks like a program, so a
// failed, stopped or broken download leaves the installed file as it was. Meanwhile the
// dialog's labels show size, speed and percentage, and the dialog is sent a notice each time
// the percentage changes; the notice with 100 comes only once the new file is in place.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "GbkString.h"
#include "ServerProtocol.h"

// What a signed release says its file is.
struct ExpectedFile {
    uint64_t size = 0;
    std::array<uint8_t, 32> sha256{};
};

struct DownloadHooks {
    StopCheck stopRequested;         // Stop was pressed, or the dialog has gone
    std::function<void()> replaced;  // the new file stands in the target's place
    std::optional<ExpectedFile> expected;  // the body must be exactly this file
    std::function<void()> rejected;  // the body was not the expected file
};

// 0 when the new file is in place or the download was stopped, -1 on any failure.
int DownloadFile(HWND notify, const GbkString& url, const std::wstring& path,
                 const DownloadHooks& hooks);
