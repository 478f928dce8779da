// Prints how long one log line takes to reach the panel, by panel fill and by caller thread.
// Not a test: it asserts nothing and is not run by ctest. Run it under Wine by hand:
//   scripts/wine-run.sh build/mingw-x86/wineprefix
//   build/mingw-x86/tests/bin/log_panel_benchmark.exe
#include <windows.h>

#include <cstdio>

#include "DialogHarness.h"
#include "TestWorkers.h"

namespace {
double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// Appends `count` lines from this (worker) thread; returns the mean time per line.
double TimeAppends(RunningDialog& shown, int count, const char* line) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) shown.Dialog().AppendLog(line);
    QueryPerformanceCounter(&end);
    return Milliseconds(start, end) / count;
}
}  // namespace

int main() {
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    if (!shown.Window() || !shown.WaitForStartTick()) {
        std::printf("the dialog did not start\n");
        return 1;
    }
    std::printf("log panel: mean time of one AppendLog from a worker thread\n");
    const double shortAscii = TimeAppends(shown, 90, "* short line");
    std::printf("  90 short ASCII lines into a panel of 6 to 96 lines: %.2f ms a line\n",
                shortAscii);
    const double chinese = TimeAppends(shown, 90, "* 正在下载新版本主程序…");
    std::printf("  90 Chinese lines (panel starting over once):         %.2f ms a line\n", chinese);
    shown.Close();
    return 0;
}
