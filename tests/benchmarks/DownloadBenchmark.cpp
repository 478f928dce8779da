// Prints what a download costs: MB/s through DownloadFile with the live dialog, through a bare
// WinINet loop, and through unthrottled label updates and notices per chunk; the process's
// peak working set over its idle size; and how long a stop waits to take effect.
// Not a test: it asserts nothing. Run it with tests/benchmarks/bench-download.sh, which serves
// a 256 MiB file with nginx on loopback.
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "CodePage.h"
#include "DialogHarness.h"
#include "DownloadFile.h"
#include "ReleaseSignature.h"
#include "TestWorkers.h"
#include "resource_ids.h"

namespace {

constexpr DWORD kChunk = 16384;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
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

// A bare loop with the same chunks, written the same way; perChunk runs after every chunk.
template <typename PerChunk>
bool BareDownload(const std::wstring& url, const std::wstring& path, PerChunk perChunk) {
    HINTERNET root = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlW(root, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    static char buffer[kChunk];
    DWORD read = 0;
    uint64_t received = 0;
    bool ok = request && file != INVALID_HANDLE_VALUE;
    while (ok && InternetReadFile(request, buffer, kChunk, &read) && read > 0) {
        DWORD written = 0;
        ok = WriteFile(file, buffer, read, &written, nullptr) != FALSE;
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

SIZE_T WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: bench-download URL FOLDER\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring folder = argv[2];
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    if (!shown.Window() || !shown.WaitForStartTick()) {
        std::printf("the dialog did not start\n");
        return 1;
    }
    HWND dialog = shown.Window();
    const SIZE_T idle = WorkingSet(false);

    // 1. The real download, its labels and notices going to the live dialog.
    const std::wstring target = folder + L"\\real.exe";
    LARGE_INTEGER start = Now();
    const int result = DownloadFile(dialog, ToGbk(url), target, {});
    const double realSeconds = Seconds(start, Now());
    const double megabytes = MegabytesOf(target);
    const SIZE_T peak = WorkingSet(true);

    // 1b. The same with the size and digest of a signed release checked on the way.
    DownloadHooks signedHooks;
    signedHooks.expected = Expect(target);
    start = Now();
    const int signedResult = DownloadFile(dialog, ToGbk(url), folder + L"\\signed.exe", signedHooks);
    const double signedSeconds = Seconds(start, Now());

    // 2. The bare loop.
    start = Now();
    BareDownload(url, folder + L"\\bare.exe", [](uint64_t) {});
    const double bareSeconds = Seconds(start, Now());

    // 3. Three label updates and one notice per chunk, unthrottled.
    start = Now();
    BareDownload(url, folder + L"\\unthrottled.exe", [dialog](uint64_t received) {
        const std::wstring text = std::to_wstring(received >> 10) + L"KB";
        SetDlgItemTextW(dialog, IDC_FILE_SIZE, text.c_str());
        SetDlgItemTextW(dialog, IDC_SPEED, text.c_str());
        SetDlgItemTextW(dialog, IDC_PERCENT, L"50%");
        PostMessageW(dialog, WM_DOWNLOAD_PROGRESS, 50, 0);
    });
    const double unthrottledSeconds = Seconds(start, Now());

    // 4. A stop one second into a download: how long until DownloadFile returns.
    std::atomic<bool> stop{false};
    LARGE_INTEGER stoppedAt{};
    std::thread stopper([&] {
        Sleep(1000);
        stoppedAt = Now();
        stop = true;
    });
    DownloadHooks hooks;
    hooks.stopRequested = [&stop] { return stop.load(); };
    DownloadFile(dialog, ToGbk(url), folder + L"\\stopped.exe", hooks);
    const double stopMs = 1000.0 * Seconds(stoppedAt, Now());
    stopper.join();

    std::printf("download of %.0f MiB from %ls (DownloadFile result %d)\n", megabytes,
                url.c_str(), result);
    std::printf("  DownloadFile with the live dialog: %7.1f MB/s\n", megabytes / realSeconds);
    std::printf("  DownloadFile checking the digest:  %7.1f MB/s (result %d)\n",
                megabytes / signedSeconds, signedResult);
    std::printf("  bare WinINet loop:                 %7.1f MB/s\n", megabytes / bareSeconds);
    std::printf("  unthrottled per-chunk updates:     %7.1f MB/s\n", megabytes / unthrottledSeconds);
    std::printf("  ratio DownloadFile / bare loop:    %7.2f\n", bareSeconds / realSeconds);
    std::printf("  ratio with digest / without:      %7.2f\n", realSeconds / signedSeconds);
    std::printf("  ratio unthrottled / bare loop:     %7.2f\n", bareSeconds / unthrottledSeconds);
    std::printf("  peak working set over idle:        %7.1f MiB (idle %.1f MiB)\n",
                static_cast<double>(peak - idle) / 1048576.0, static_cast<double>(idle) / 1048576.0);
    std::printf("  stop to return:                    %7.1f ms\n", stopMs);
    shown.Close();
    return 0;
}
