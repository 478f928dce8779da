// A GoogleTest program that ends its run in the ways a real test program can: all passed,
// a failed test, a skipped one, killed half-way, crashed. checker_verdicts.sh runs it through
// gtest-check.sh and expects a verdict for each. Not registered as a test by itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

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
