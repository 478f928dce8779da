// The dialog's two worker threads as the tests provide them: they count their starts, and an
// automatic run holds until the test lets it end, as a real run talking to a server would.
#pragma once

#include <windows.h>

#include <atomic>

struct TestWorkers {
    std::atomic<int> loadInfoStarts{0};
    std::atomic<int> runStarts{0};
    std::atomic<int> runsEnded{0};
    std::atomic<BOOL> flagSeenAtEnd{-1};
    std::atomic<bool> asksForStep{false};  // the run goes on to the step with rights
    HANDLE releaseRun = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset

    void Reset() {
        loadInfoStarts = 0;
        runStarts = 0;
        runsEnded = 0;
        flagSeenAtEnd = -1;
        asksForStep = false;
        ResetEvent(releaseRun);
    }
};

TestWorkers& Workers();
