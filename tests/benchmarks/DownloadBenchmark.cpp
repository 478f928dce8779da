// Prints what a download costs: MB/s through DownloadFile with the live dialog, through a bare
// WinINet loop, and through unthrottled label updates and notices per chunk; the process's
// peak working set over its idle size; how long a stop waits to take effect; and what checking
// a signed release's digest on the way costs, at full speed and at a gigabit link's pace.
// Not a test: it asserts nothing. Run it with tests/benchmarks/bench-download.sh, which serves
// a 256 MiB file with nginx on loopback.
// With --unchecked N it only prints the seconds and MiB of N plain downloads, a line each: the
// script runs it with and without a busy loop beside it, to tell whether the machine has a core to
// spare for the digest's thread.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "CodePage.h"
#include "DialogHarness.h"
#include "DialogRun.h"
#include "DownloadFile.h"
#include "Sha256.h"
#include "StagedFile.h"
#include "TestWorkers.h"
#include "resource_ids.h"

namespace {

// The bare loop's reads: large ones, which a fast link needs.
constexpr DWORD kBareRead = 1 << 20;
// How many times DownloadFile and the bare loop are timed side by side.
constexpr int kPairs = 9;
// The reads of old, for the cost of unthrottled updates per chunk.
constexpr DWORD kSmallRead = 16384;

// The live dialog, bound as a run binds it: every download's figures go to its labels.
DialogRun* g_shown = nullptr;

int Download(HWND dialog, const std::wstring& url, const std::wstring& path, DownloadHooks hooks) {
    hooks.report = g_shown;
    return DownloadFile(dialog, ToGbk(url), path, hooks);
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

double MegabytesOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    const double bytes = static_cast<double>(data.nFileSizeHigh) * 4294967296.0 + data.nFileSizeLow;
    return bytes / (1024.0 * 1024.0);
}

// A bare loop of blocking reads of `chunk` bytes, each written as it comes; perChunk runs
// after every chunk.
template <typename PerChunk>
bool BareDownload(const std::wstring& url, const std::wstring& path, DWORD chunk,
                  PerChunk perChunk) {
    HINTERNET root = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlW(root, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    static std::vector<char> buffer(kBareRead);
    DWORD read = 0;
    uint64_t received = 0;
    bool ok = request && file != INVALID_HANDLE_VALUE;
    while (ok && InternetReadFile(request, buffer.data(), chunk, &read) && read > 0) {
        DWORD written = 0;
        ok = WriteFile(file, buffer.data(), read, &written, nullptr) != FALSE;
        received += read;
        perChunk(received);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (request) InternetCloseHandle(request);
    if (root) InternetCloseHandle(root);
    return ok;
}

// The size and SHA-256 of a file on disk, as a signed record would give them.
ExpectedFile Expect(const std::wstring& path) {
    ExpectedFile expected;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    static char buffer[1 << 16];
    DWORD read = 0;
    Sha256 digest;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        digest.Add(buffer, read);
        expected.size += read;
    }
    CloseHandle(file);
    digest.Finish(expected.sha256);
    return expected;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct DigestCost {
    int rounds = 0;
    int checkedResult = 0;
    double uncheckedSeconds = 0;
    double checkedSeconds = 0;
};

// Checked and unchecked downloads take turns at going first, and each kind's median counts:
// single runs differ by more than the check costs.
DigestCost MeasureDigestCost(HWND dialog, const std::wstring& url, const std::wstring& scratch,
                             const DownloadHooks& checkedHooks, int rounds) {
    DigestCost cost;
    cost.rounds = rounds;
    std::vector<double> unchecked, checked;
    const auto timedDownload = [&](const DownloadHooks& hooks, std::vector<double>& times) {
        const LARGE_INTEGER start = Now();
        const int outcome = Download(dialog, url, scratch, hooks);
        times.push_back(Seconds(start, Now()));
        DeleteFileW(scratch.c_str());
        return outcome;
    };
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((round + turn) % 2 == 0)
                cost.checkedResult |= timedDownload(checkedHooks, checked);
            else
                timedDownload({}, unchecked);
        }
    }
    cost.uncheckedSeconds = Median(unchecked);
    cost.checkedSeconds = Median(checked);
    return cost;
}

void PrintDigestCost(const char* label, double megabytes, const DigestCost& cost) {
    if (cost.rounds == 0) return;
    std::printf("  %s checked %.1f MB/s (result %d), unchecked %.1f MB/s, medians of %d\n", label,
                megabytes / cost.checkedSeconds, cost.checkedResult,
                megabytes / cost.uncheckedSeconds, cost.rounds);
    std::printf("    ratio with digest / without:     %7.2f\n",
                cost.uncheckedSeconds / cost.checkedSeconds);
}

SIZE_T WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

// The seconds and the size in MiB of each of `count` plain downloads, one line each.
int PrintUncheckedSeconds(HWND dialog, const std::wstring& url, const std::wstring& folder,
                          int count) {
    const std::wstring scratch = folder + L"\\scratch.exe";
    for (int i = 0; i < count; ++i) {
        const LARGE_INTEGER start = Now();
        const int outcome = Download(dialog, url, scratch, {});
        const double seconds = Seconds(start, Now());
        const double megabytes = MegabytesOf(scratch);
        DeleteFileW(scratch.c_str());
        if (outcome != 0) {
            std::printf("download %d of %d failed (DownloadFile result %d)\n", i + 1, count,
                        outcome);
            return 1;
        }
        std::printf("%.4f %.6f\n", seconds, megabytes);
    }
    return 0;
}

// `count` whole downloads through a server that drops connections, each checked against the
// file's size and digest; prints how many were installed. The pauses between tries are
// shortened to 50 ms: a real link's second would only add waiting.
int PrintResumedInstalls(HWND dialog, const std::wstring& url, const std::wstring& folder,
                         const std::wstring& original, int count) {
    const std::wstring target = folder + L"\\resumed.exe";
    DownloadHooks hooks;
    hooks.expected = Expect(original);
    hooks.timings.firstPauseMs = 50;
    int rejected = 0;
    hooks.rejected = [&rejected] { ++rejected; };
    int installed = 0;
    const LARGE_INTEGER start = Now();
    for (int i = 0; i < count; ++i) {
        StagedFile::RemoveLeftover(target);
        DeleteFileW(target.c_str());
        if (Download(dialog, url, target, hooks) == 0 &&
            MegabytesOf(target) * 1048576.0 == static_cast<double>(hooks.expected->size))
            ++installed;
    }
    std::printf("installed %d of %d in %.1f s (%d found not to be the signed file)\n", installed,
                count, Seconds(start, Now()), rejected);
    DeleteFileW(target.c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && std::wstring(argv[1]) == L"--resumed") {
        // --resumed COUNT URL FOLDER ORIGINAL
        SetEvent(Workers().releaseRun);
        RunningDialog shown("");
        if (!shown.Window() || !shown.WaitForStartTick()) return 1;
        DialogRun run(&shown.Dialog());
        g_shown = &run;
        const int outcome =
            PrintResumedInstalls(shown.Window(), argv[3], argv[4], argv[5], _wtoi(argv[2]));
        shown.Close();
        return outcome;
    }
    const bool uncheckedOnly = argc > 1 && std::wstring(argv[1]) == L"--unchecked";
    const int count = uncheckedOnly && argc > 2 ? _wtoi(argv[2]) : 0;
    if (uncheckedOnly) {
        argv += 2;
        argc -= 2;
    }
    if (argc < 3 || (uncheckedOnly && count <= 0)) {
        std::printf(
            "usage: bench-download URL FOLDER [RATE-LIMITED-URL]\n"
            "       bench-download --unchecked COUNT URL FOLDER\n"
            "       bench-download --resumed COUNT URL FOLDER ORIGINAL\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring folder = argv[2];
    const std::wstring limitedUrl = argc > 3 ? argv[3] : L"";
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    if (!shown.Window() || !shown.WaitForStartTick()) {
        std::printf("the dialog did not start\n");
        return 1;
    }
    DialogRun run(&shown.Dialog());
    g_shown = &run;
    HWND dialog = shown.Window();
    if (uncheckedOnly) {
        const int outcome = PrintUncheckedSeconds(dialog, url, folder, count);
        shown.Close();
        return outcome;
    }
    const SIZE_T idle = WorkingSet(false);

    // 1. The real download, its labels and notices going to the live dialog, while another
    // thread keeps asking the dialog for an answer. Then it and the bare loop (2.) run in
    // pairs, each going first in every other pair: single runs differ by more than what is
    // compared, and the pair's ratio cancels what changes from one pair to the next.
    const std::wstring target = folder + L"\\real.exe";
    std::atomic<bool> downloading{true};
    double slowestAnswerMs = 0;
    std::thread prober([&] {
        while (downloading) {
            const LARGE_INTEGER asked = Now();
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
            slowestAnswerMs = std::max(slowestAnswerMs, 1000.0 * Seconds(asked, Now()));
            Sleep(5);
        }
    });
    LARGE_INTEGER start = Now();
    const int result = Download(dialog, url, target, {});
    std::vector<double> realTimes{Seconds(start, Now())};
    downloading = false;
    prober.join();
    const double megabytes = MegabytesOf(target);
    const SIZE_T peak = WorkingSet(true);
    std::vector<double> bareTimes, ratios;
    const std::wstring scratch = folder + L"\\scratch.exe";
    const auto timed = [&](auto download, std::vector<double>& times) {
        const LARGE_INTEGER from = Now();
        download();
        times.push_back(Seconds(from, Now()));
        DeleteFileW(scratch.c_str());
    };
    for (int pair = 0; pair < kPairs; ++pair) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((pair + turn) % 2 == 0)
                timed([&] { BareDownload(url, scratch, kBareRead, [](uint64_t) {}); }, bareTimes);
            else if (pair > 0)  // the first pair's download is the one above
                timed([&] { Download(dialog, url, scratch, {}); }, realTimes);
        }
        ratios.push_back(bareTimes.back() / realTimes.back());
    }
    const double realSeconds = Median(realTimes);
    const double bareSeconds = Median(bareTimes);

    // 1b. The same with the size and digest of a signed release checked on the way, against
    // unchecked runs: at full speed and, when given, at a gigabit link's pace.
    DownloadHooks signedHooks;
    start = Now();
    signedHooks.expected = Expect(target);
    const double hashSeconds = Seconds(start, Now());
    DeleteFileW(target.c_str());
    const DigestCost cost = MeasureDigestCost(dialog, url, scratch, signedHooks, 9);
    const SIZE_T checkedPeak = WorkingSet(true);
    const DigestCost limitedCost =
        limitedUrl.empty() ? DigestCost{}
                           : MeasureDigestCost(dialog, limitedUrl, scratch, signedHooks, 3);

    // 3. Three label updates and one notice per 16 KB chunk, unthrottled.
    start = Now();
    BareDownload(url, scratch, kSmallRead, [dialog](uint64_t received) {
        const std::wstring text = std::to_wstring(received >> 10) + L"KB";
        SetDlgItemTextW(dialog, IDC_FILE_SIZE, text.c_str());
        SetDlgItemTextW(dialog, IDC_SPEED, text.c_str());
        SetDlgItemTextW(dialog, IDC_PERCENT, L"50%");
        PostMessageW(dialog, WM_DOWNLOAD_PROGRESS, 50, 0);
    });
    const double unthrottledSeconds = Seconds(start, Now());
    DeleteFileW(scratch.c_str());

    // 4. A stop a quarter second into a download (at a gigabit link's pace when that is given:
    // loopback's whole download may take less): how long until DownloadFile returns. The
    // stopper says when it asked, so a download that ended first is told apart.
    std::atomic<bool> stop{false};
    LARGE_INTEGER stoppedAt{};
    std::thread stopper([&] {
        Sleep(250);
        stoppedAt = Now();
        stop = true;
    });
    DownloadHooks hooks;
    hooks.stopRequested = [&stop] { return stop.load(); };
    Download(dialog, limitedUrl.empty() ? url : limitedUrl, scratch, hooks);
    const LARGE_INTEGER returnedAt = Now();
    stopper.join();
    StagedFile::RemoveLeftover(scratch);  // a stopped download keeps its part
    const double stopMs = 1000.0 * Seconds(stoppedAt, returnedAt);

    std::printf("download of %.0f MiB from %ls (DownloadFile result %d)\n", megabytes, url.c_str(),
                result);
    std::printf("  DownloadFile with the live dialog: %7.1f MB/s (median of %d)\n",
                megabytes / realSeconds, kPairs);
    std::printf("  SHA-256 of the file on disk:       %7.1f MB/s\n", megabytes / hashSeconds);
    std::printf("  bare WinINet loop, 1 MiB reads:    %7.1f MB/s (median of %d)\n",
                megabytes / bareSeconds, kPairs);
    std::printf("  unthrottled updates per 16 KB:     %7.1f MB/s\n",
                megabytes / unthrottledSeconds);
    std::printf("  ratio DownloadFile / bare loop:    %7.2f (median of the pairs' ratios)\n",
                Median(ratios));
    std::printf("  ratio unthrottled / bare loop:     %7.2f\n", bareSeconds / unthrottledSeconds);
    PrintDigestCost("digest check at full speed:", megabytes, cost);
    PrintDigestCost("digest check at 100 MB/s:  ", megabytes, limitedCost);
    std::printf("  slowest answer of the dialog:      %7.1f ms\n", slowestAnswerMs);
    std::printf("  peak working set over idle:        %7.1f MiB (idle %.1f MiB)\n",
                static_cast<double>(peak - idle) / 1048576.0,
                static_cast<double>(idle) / 1048576.0);
    std::printf("  the same after checked downloads:  %7.1f MiB\n",
                static_cast<double>(checkedPeak - idle) / 1048576.0);
    if (stopMs >= 0)
        std::printf("  stop to return:                    %7.1f ms\n", stopMs);
    else
        std::printf("  stop to return:                    (the download ended first)\n");
    shown.Close();
    return 0;
}
