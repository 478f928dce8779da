// The update dialog with its own controls as users see them: a lit Start button, a disabled
// Stop button and a visited link. Saves screenshots/controls-dialog.bmp in the build tree.
#include <gtest/gtest.h>

#include "Canvas.h"
#include "DialogHarness.h"
#include "Screenshot.h"
#include "resource_ids.h"

namespace {
int OpenedByTheShell(const std::wstring&, int) {
    return 42;
}

// Pixels of colour that the screen shows inside window.
int ScreenPixelsOf(HWND window, COLORREF colour) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    Canvas canvas(width, height);
    HDC screen = GetDC(nullptr);
    BitBlt(canvas.Dc(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    int count = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) count += canvas.At(x, y) == colour;
    return count;
}
}  // namespace

TEST(Screen, TheDialogWithALitADisabledButtonAndAVisitedLink) {
    RunningDialog shown("");
    ASSERT_NE(shown.Window(), nullptr);
    ASSERT_TRUE(shown.WaitForStartTick());
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(shown.Item(IDC_STOP)) != FALSE; }));
    UpdateDialog& dialog = shown.Dialog();

    // Other tests' windows share the display: this one goes on top of them, and the pointer
    // rests on Start, so that nothing unlights it (its leave tracking follows the real pointer).
    SetWindowPos(shown.Window(), HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EnableWindow(shown.Item(IDC_STOP), FALSE);
    RECT start;
    GetWindowRect(shown.Item(IDOK), &start);
    SetCursorPos(start.left + 8, start.top + 8);
    SendMessageW(shown.Item(IDOK), WM_MOUSEMOVE, 0, MAKELPARAM(8, 8));
    dialog.m_lnkHome.m_openWithShell = OpenedByTheShell;  // read only by its click
    SendMessageW(shown.Window(), WM_COMMAND, MAKEWPARAM(IDC_LINK_HOME, STN_CLICKED),
                 reinterpret_cast<LPARAM>(shown.Item(IDC_LINK_HOME)));
    RedrawWindow(shown.Window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

    // The screen is read once the painting has reached it.
    EXPECT_TRUE(dialog.m_btnStart.IsHot());
    EXPECT_TRUE(WaitUntil([&] {
        return ScreenPixelsOf(shown.Item(IDC_LINK_HOME), dialog.m_lnkHome.m_clrVisited) > 0 &&
               ScreenPixelsOf(shown.Item(IDC_LINK_LOG), dialog.m_lnkLog.m_clrLink) > 0;
    })) << "the visited home link and the log link in their colours";
    CreateDirectoryW(L"screenshots", nullptr);
    const ShotInfo shot = SaveWindowShot(shown.Window(), L"screenshots\\controls-dialog.bmp");
    EXPECT_TRUE(shot.saved);
    EXPECT_GT(shot.distinctColours, 8);
}
