// Runs DownloadFile on a worker thread, as the update run does, while this thread owns the
// window its notices go to and collects them; the figures it reports are recorded.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DownloadFile.h"
#include "GbkString.h"
#include "TestHttpServer.h"

struct DownloadRun {
    int result = 1;  // neither 0 nor -1 until the download has returned
    std::vector<int> notices;
    bool replacedBeforeHundred = true;  // the replaced hook ran before the notice of 100
    std::wstring sizeLabel, speedLabel, percentLabel;
    DWORD stopToReturnMs = 0;  // from the stop to DownloadFile's return
    int resumed = 0;           // times the download said it went on from a part in hand
};

// What the update run would hand DownloadFile besides the address and the target.
struct DownloadSettings {
    DownloadTimings timings{};
    GbkString version = "1.0.0.2";
    std::optional<ExpectedFile> expected{};
};

// stopWhen(notices so far, elapsed ms) is asked while the download runs; true asks it to stop.
DownloadRun RunDownload(const GbkString& url, const std::wstring& target,
                        const std::function<bool(const std::vector<int>&, DWORD)>& stopWhen = {},
                        const DownloadSettings& settings = {});

// ---- What the download cases share: the tests' HTTP server and the bodies it serves.

testsupport::TestHttpServer& Server();
// The server's address of `target` ("/path").
GbkString Url(const std::string& target);
// The requests for `target`, from the server's record.
std::vector<testsupport::ReceivedRequest> RequestsFor(const std::string& target);
// What a signed release would say of `bytes`: their size and SHA-256.
ExpectedFile SignedFileOf(const std::string& bytes);
// "MZ", then bytes numbered from `seed`: as long as asked, a different body for each seed.
std::string ProgramBytes(size_t size, char seed);

inline const testsupport::HttpHeader kEtag{"ETag", "\"v1\""};
// Tries again without the minute of silence and the seconds of pause of a real link.
inline const DownloadSettings kQuickTries{.timings = {.silenceLimitMs = 1200, .firstPauseMs = 50}};
