// Tries that a download gives up on, against a server that sends a few MiB per request and then
// keeps the connection open and silent: however many there are, the threads and memory they
// hold stay bounded, and the download still ends.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DownloadHarness.h"
#include "HttpGet.h"
#include "StagedFile.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

struct Footprint {
    DWORD threads = 0;
    SIZE_T privateBytes = 0;
};

DWORD ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// Private bytes are the commit charge, PagefileUsage (Wine leaves PrivateUsage at 0).
Footprint Measure() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return {ThreadCount(), counters.PagefileUsage};
}

// What the held transfers may add: under Wine each has a WinINet thread blocked on its
// connection and at most a closing thread of ours, two buffers of 2 MiB and what WinINet keeps
// for it; the download itself runs on a thread or two more, with buffers of its own.
constexpr DWORD kThreadsAllowed = 2 * kMostHeldTransfers + 4;
constexpr SIZE_T kBytesAllowed = (6 * kMostHeldTransfers + 16) << 20;

class AbandonedTries : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteFileBytes(m_target, m_old)); }

    TempDir m_folder{L"放弃 测试"};
    std::wstring m_target = m_folder.File(L"Tanvik体验版.exe");
    std::string m_old = ProgramBytes(30000, 1);
};

}  // namespace

// Each reply sends 2 MiB, enough to be read ahead, from where it was asked to start; a read
// ahead then waits on the silent connection, so every try is cut as slowed and leaves that read
// pending until the server closes the connection.
TEST_F(AbandonedTries, HoldBoundedThreadsAndMemoryAndTheRunStillEnds) {
    Server().Script("/stalling.exe", {.headers = {kEtag},
                                      .body = ProgramBytes(64 << 20, 3),
                                      .behaviour = Behaviour::StallAfter,
                                      .afterBytes = 2 << 20,
                                      .stallSeconds = 120,
                                      .ranges = true,
                                      .cutEachReply = true});
    const std::string whole = ProgramBytes(200000, 7);
    Server().Script("/whole.exe", {.body = whole});
    struct Step {
        const char* name;
        const char* target;
        DWORD silenceLimitMs;
        DWORD stopAfterMs;  // 0: not stopped
        int result;
        size_t leastRequests, mostRequests;  // to the target
        bool installs;
        bool endStallsFirst = false;
    };
    const Step steps[] = {
        // Tries until the bound is reached; then each try waits the silence limit for a place
        // in vain, and brings nothing, until five in a row have brought nothing.
        {"stalled tries", "/stalling.exe", 1500, 0, -1, kMostHeldTransfers - 1, kMostHeldTransfers,
         false},
        // Every place is held: a try waits without opening anything, and a stop ends the wait.
        {"stopped while waiting", "/stalling.exe", 30000, 1000, 0, 0, 0, false},
        // The server closes the stalled connections, and their places are free again.
        {"let go", "/whole.exe", 5000, 0, 0, 1, 1, true, true},
    };
    // Connections that earlier cases left stalled hold places too: they go first.
    Server().EndStalls();
    Sleep(500);
    const Footprint before = Measure();
    for (const Step& step : steps) {
        if (step.endStallsFirst) Server().EndStalls();
        Server().ClearRequests();
        Footprint most = before;
        DWORD sampledAt = 0;
        const DownloadRun run =
            RunDownload(Url(step.target), m_target,
                        [&](const std::vector<int>&, DWORD elapsed) {
                            if (elapsed - sampledAt >= 50) {
                                const Footprint now = Measure();
                                most = {std::max(most.threads, now.threads),
                                        std::max(most.privateBytes, now.privateBytes)};
                                sampledAt = elapsed;
                            }
                            return step.stopAfterMs ? elapsed > step.stopAfterMs : elapsed > 120000;
                        },
                        {.timings = {.silenceLimitMs = step.silenceLimitMs, .firstPauseMs = 50}});
        EXPECT_EQ(run.result, step.result) << step.name;
        if (step.stopAfterMs) {
            EXPECT_LT(run.stopToReturnMs, 1000u) << step.name;
        }
        const size_t requests = RequestsFor(step.target).size();
        EXPECT_GE(requests, step.leastRequests) << step.name;
        EXPECT_LE(requests, step.mostRequests) << step.name;
        EXPECT_LE(most.threads, before.threads + kThreadsAllowed) << step.name;
        EXPECT_LE(most.privateBytes, before.privateBytes + kBytesAllowed) << step.name;
        std::string installed;
        ASSERT_TRUE(ReadFileBytes(m_target, installed)) << step.name;
        EXPECT_TRUE(installed == (step.installs ? whole : m_old))
            << step.name << ": not the file expected";
    }
    EXPECT_FALSE(FileExists(StagedFile::TemporaryPath(m_target)));
    Server().EndStalls();
}
