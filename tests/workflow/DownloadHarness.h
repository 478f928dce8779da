// Runs DownloadFile on a worker thread, as the update run does, while this thread owns the
// window it reports to (three labels with the dialog's ids) and collects its notices.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "GbkString.h"

struct DownloadRun {
    int result = 1;  // neither 0 nor -1 until the download has returned
    std::vector<int> notices;
    bool replacedBeforeHundred = true;  // the replaced hook ran before the notice of 100
    std::wstring sizeLabel, speedLabel, percentLabel;
    DWORD stopToReturnMs = 0;  // from the stop to DownloadFile's return
};

// stopWhen(notices so far, elapsed ms) is asked while the download runs; true asks it to stop.
DownloadRun RunDownload(const GbkString& url, const std::wstring& target,
                        const std::function<bool(const std::vector<int>&, DWORD)>& stopWhen = {});
