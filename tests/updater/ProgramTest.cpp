// The real updater.exe: one instance per logon, its mode from a real command line, and what
// it shows on the screen.
#include <gtest/gtest.h>

#include "Screenshot.h"
#include "TestSupport.h"
#include "resource_ids.h"

using namespace testsupport;

namespace {
const wchar_t kCaption[] = L"在线自动更新程序 （正在获取版本号）";
const wchar_t kModeLine[] = L"* 获取配置模式完成…!";

bool IsUpdateDialog(HWND window) {
    return IsWindowVisible(window) && WindowClass(window) == L"#32770" &&
           WindowText(window) == kCaption;
}

bool ShowsAnyWindow(DWORD processId) {
    for (HWND window : TopLevelWindowsOf(processId))
        if (IsWindowVisible(window)) return true;
    return false;
}

// Waits for the process to end, watching that it never shows a window meanwhile.
bool EndsWithoutAWindow(ChildProcess& process, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!process.WaitForExit(20)) {
        if (ShowsAnyWindow(process.Id())) return false;
        if (GetTickCount() - start > timeoutMs) return false;
    }
    return true;
}

HWND StartUpdater(ChildProcess& process, const std::wstring& arguments) {
    if (!process.Start(BuiltProgramPath(L"updater.exe"), arguments)) return nullptr;
    return WaitForWindow(process.Id(), IsUpdateDialog, 30000);
}

bool Closes(ChildProcess& process, HWND dialog) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    return process.WaitForExit(10000);
}

bool WaitForModeLine(HWND dialog) {
    for (int i = 0; i < 500; ++i) {
        if (WindowText(FindChildById(dialog, IDC_LOG)).find(kModeLine) != std::wstring::npos)
            return true;
        Sleep(10);
    }
    return false;
}
}  // namespace

TEST(SingleInstance, AnyHolderOfTheMarkerKeepsTheUpdaterFromStarting) {
    HANDLE marker = CreateMutexW(nullptr, FALSE, L"Update");
    ASSERT_NE(marker, nullptr);
    ChildProcess second;
    ASSERT_TRUE(second.Start(BuiltProgramPath(L"updater.exe"), L"AutoUpdate"));
    EXPECT_TRUE(EndsWithoutAWindow(second, 30000));
    CloseHandle(marker);
}

TEST(SingleInstance, ASecondStartEndsAtOnceAndLeavesTheFirstAlone) {
    ChildProcess first;
    HWND dialog = StartUpdater(first, L"");
    ASSERT_NE(dialog, nullptr);

    ChildProcess second;
    ASSERT_TRUE(second.Start(BuiltProgramPath(L"updater.exe"), L""));
    EXPECT_TRUE(EndsWithoutAWindow(second, 30000));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(Closes(first, dialog));

    ChildProcess third;  // once the first has gone, the next one runs
    HWND again = StartUpdater(third, L"");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(Closes(third, again));
}

TEST(CommandLine, OnlyAutoUpdateStartsARunByItself) {
    ChildProcess manual;
    HWND dialog = StartUpdater(manual, L"autoupdate");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForModeLine(dialog));
    EXPECT_TRUE(IsWindowEnabled(FindChildById(dialog, IDOK)));
    EXPECT_TRUE(IsWindowEnabled(FindChildById(dialog, IDC_STOP)));
    EXPECT_TRUE(Closes(manual, dialog));

    ChildProcess automatic;
    dialog = StartUpdater(automatic, L"AutoUpdate");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForModeLine(dialog));
    Sleep(300);
    EXPECT_FALSE(IsWindowEnabled(FindChildById(dialog, IDC_STOP)));
    EXPECT_TRUE(Closes(automatic, dialog));
}

// Saves build/<preset>/screenshots/updater-dialog.bmp for people to look at.
TEST(Screen, TheDialogAsUsersSeeIt) {
    ChildProcess updater;
    HWND dialog = StartUpdater(updater, L"");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForModeLine(dialog));
    Sleep(300);
    CreateDirectoryW(L"screenshots", nullptr);
    const ShotInfo shot = SaveWindowShot(dialog, L"screenshots\\updater-dialog.bmp");
    EXPECT_TRUE(shot.saved);
    EXPECT_GT(shot.width, 300);
    EXPECT_GT(shot.height, 250);
    EXPECT_GT(shot.distinctColours, 8);  // texts and controls, not a blank rectangle
    EXPECT_TRUE(Closes(updater, dialog));
}
