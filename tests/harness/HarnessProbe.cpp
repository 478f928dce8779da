// A GoogleTest program that ends its run in the ways a real test program can: all passed,
// a failed test, a skipped one, killed half-way, crashed. checker_verdicts.sh runs it through
// gtest-check.sh and expects a verdict for each. Not registered as a test by itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(Probe, Passes) {
    EXPECT_EQ(2 + 2, 4);
}

TEST(Probe, Fails) {
    EXPECT_EQ(2 + 2, 5) << "this test fails on purpose";
}

TEST(Probe, Skips) {
    GTEST_SKIP() << "nothing to check here";
}

// As a kill from outside would (wineserver -k, a task manager): the process ends at once
// with exit code 0, before GoogleTest reaches its summary.
TEST(Probe, KilledHalfWay) {
    TerminateProcess(GetCurrentProcess(), 0);
}

TEST(Probe, AfterTheKill) {
    EXPECT_TRUE(true);
}

// A fault that nothing handles (with --gtest_catch_exceptions=0): the run must end, not wait
// on a crash dialog that nobody will close.
TEST(Probe, Crashes) {
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
}

// A program that the probe starts, as a test starts the program under test: another copy of
// the probe that waits, holding the test's output open as any child does under Wine. It says
// that it runs through an event whose name it inherits in its environment.
const wchar_t kReadyEventVariable[] = L"QV_PROBE_CHILD_READY";

TEST(Probe, Lingers) {
    wchar_t name[64] = {};
    if (GetEnvironmentVariableW(kReadyEventVariable, name, 64) > 0) {
        const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
        if (ready != nullptr) SetEvent(ready);
    }
    Sleep(90000);  // longer than a failed run may take to be reported
}

void StartLingeringChild() {
    const std::wstring name = L"QvHarnessProbeChild-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(ready, nullptr);
    SetEnvironmentVariableW(kReadyEventVariable, name.c_str());
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=Probe.Lingers";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0) << "the child did not start";
    std::printf("child running\n");
    std::fflush(stdout);
}

// The three ways a run ends early while a program it started still runs: killed from inside,
// crashed, and killed from Linux (the harness sends SIGKILL while this one waits).
TEST(Probe, KilledBesideAChild) {
    StartLingeringChild();
    TerminateProcess(GetCurrentProcess(), 0);
}

TEST(Probe, CrashesBesideAChild) {
    StartLingeringChild();
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
}

TEST(Probe, WaitsBesideAChild) {
    StartLingeringChild();
    Sleep(90000);
}

}  // namespace

// --exit-code=N replaces the exit code that the run would give, so that the report and the
// exit code can be made to disagree.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const char* const flag = "--exit-code=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
            return std::atoi(argv[i] + std::strlen(flag));
        }
    }
    return result;
}
