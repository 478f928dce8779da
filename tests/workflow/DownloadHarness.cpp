#include "DownloadHarness.h"

#include <stdexcept>
#include <thread>

#include "CodePage.h"
#include "DownloadFile.h"
#include "DownloadNotice.h"
#include "RecordingReport.h"
#include "Sha256.h"

using namespace testsupport;

TestHttpServer& Server() {
    static TestHttpServer server;
    return server;
}

GbkString Url(const std::string& target) {
    return GbkString(Server().BaseUrl() + target.substr(1));
}

std::vector<ReceivedRequest> RequestsFor(const std::string& target) {
    std::vector<ReceivedRequest> found;
    for (const ReceivedRequest& request : Server().Requests())
        if (request.target == target) found.push_back(request);
    return found;
}

ExpectedFile SignedFileOf(const std::string& bytes) {
    ExpectedFile file{.size = bytes.size()};
    Sha256 hash;
    if (!hash.Add(bytes.data(), static_cast<ULONG>(bytes.size())) || !hash.Finish(file.sha256))
        throw std::runtime_error("SHA-256 could not be taken");
    return file;
}

std::string ProgramBytes(size_t size, char seed) {
    std::string bytes = "MZ";
    for (size_t i = 2; i < size; ++i) bytes += static_cast<char>((i * 131 + seed) & 0xFF);
    return bytes;
}

DownloadRun RunDownload(const GbkString& url, const std::wstring& target,
                        const std::function<bool(const std::vector<int>&, DWORD)>& stopWhen,
                        const DownloadSettings& settings) {
    HWND window =
        CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    RecordingReport report;

    DownloadRun run;
    std::atomic<bool> stop{false}, replaced{false}, done{false};
    std::atomic<DWORD> stoppedAt{0};
    DownloadHooks hooks;
    hooks.stopRequested = [&stop] { return stop.load(); };
    hooks.replaced = [&replaced] { replaced = true; };
    hooks.timings = settings.timings;
    hooks.version = settings.version;
    hooks.expected = settings.expected;
    std::atomic<int> resumed{0};
    hooks.resumed = [&resumed] { ++resumed; };
    hooks.report = &report;
    std::thread worker([&] {
        run.result = DownloadFile(window, url, target, hooks);
        done = true;
    });
    const DWORD start = GetTickCount();
    DWORD returnedAt = 0;
    // Serve the worker's label updates and collect the notices until it has returned and
    // every notice it posted has been read.
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == window && message.message == WM_DOWNLOAD_PROGRESS) {
                const int percent = static_cast<int>(message.wParam);
                if (percent == 100 && !replaced) run.replacedBeforeHundred = false;
                run.notices.push_back(percent);
            }
            DispatchMessageW(&message);
        }
        if (done) {
            if (!returnedAt) returnedAt = GetTickCount();
            if (!PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE)) break;
            continue;
        }
        if (!stop && stopWhen && stopWhen(run.notices, GetTickCount() - start)) {
            stoppedAt = GetTickCount();
            stop = true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    worker.join();
    if (stoppedAt) run.stopToReturnMs = returnedAt - stoppedAt;
    run.resumed = resumed;
    const std::vector<DownloadFigures> shown = report.Figures();
    if (!shown.empty()) {
        run.sizeLabel = ToWide(shown.back().sizeLabel);
        run.speedLabel = ToWide(shown.back().speedLabel);
        run.percentLabel = ToWide(shown.back().percentLabel);
    }
    DestroyWindow(window);
    return run;
}
