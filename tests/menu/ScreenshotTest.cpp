// Shows a loaded menu's popup on the screen in each look, the way a button would, and saves
// what the screen shows as screenshots/menu-<look>.bmp for people to look at.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "MenuPlatform.h"
#include "Screenshot.h"
#include "TestMenuIds.h"
#include "VantuMenu.h"
#include "Window.h"

namespace {
constexpr UINT_PTR kStepTimer = 1;

struct ShotRun {
    std::wstring path;
    int step = 0;
    ShotInfo shot;
    int drawRequests = 0;
};
ShotRun* g_run = nullptr;

HWND OpenPopupWindow() {
    HWND popup = FindWindowW(L"#32768", nullptr);  // the class of popup menus' windows
    return popup && IsWindowVisible(popup) ? popup : nullptr;
}

// Steps while the menu is open: move the selection down to the pictured item, then take
// the shot and close the menu. A busy machine may not have painted the popup yet when the
// shot is first due: the shot is then taken again at the next steps, a bounded number of times.
void Step(HWND owner) {
    constexpr int kMoves = 4, kLastShot = kMoves + 20;
    HWND popup = OpenPopupWindow();
    if (!popup) return;
    if (g_run->step < kMoves) {
        PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    } else {
        g_run->shot = SaveWindowShot(popup, g_run->path);
        if ((g_run->shot.saved && g_run->shot.distinctColours > 6) || g_run->step >= kLastShot) {
            KillTimer(owner, kStepTimer);
            EndMenu();
        }
    }
    ++g_run->step;
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if ((message == WM_DRAWITEM || message == WM_MEASUREITEM) && g_run) ++g_run->drawRequests;
    if (ReflectToControl(message, wParam, lParam, result)) return result;
    if (message == WM_TIMER && g_run) {
        Step(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateOwner() {
    WNDCLASSW type{};
    type.lpfnWndProc = OwnerProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"QvMenuShotOwner";
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    RegisterClassW(&type);
    return CreateWindowExW(0, type.lpszClassName, L"menu", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                           nullptr, nullptr, type.hInstance, nullptr);
}
}  // namespace

TEST(Screenshot, LoadedPopupInEachLook) {
    struct Look {
        const wchar_t* name;
        int osClass;
        UINT imageCommand;
    };
    const Look looks[] = {{L"classic", kOsOtherNt, ID_BLACK}, {L"xp", kOsWinXp, ID_RED}};
    CreateDirectoryW(L"screenshots", nullptr);
    HWND owner = CreateOwner();
    ASSERT_NE(owner, nullptr);
    for (const Look& look : looks) {
        MenuPlatform::Current().Assume(look.osClass, false);
        VantuMenu menu;
        ASSERT_TRUE(menu.LoadMenu(IDM_TEST));
        VantuMenu* view = menu.GetPopup(1);
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->AppendItem(L"&Cut\tCtrl+X", 0, look.imageCommand, IDR_TOOLBAR));
        ASSERT_TRUE(view->AppendItem(GbkString("粘贴(&P)"), MF_GRAYED, 500, IDR_TOOLBAR));

        // Other tests' windows share the display, and one that comes to the front closes an
        // open menu before its shot: the menu is then opened again, a bounded number of times.
        ShotRun run;
        for (int attempt = 0; attempt < 5 && !run.shot.saved; ++attempt) {
            run = ShotRun{};
            run.path = std::wstring(L"screenshots\\menu-") + look.name + L".bmp";
            g_run = &run;
            SetForegroundWindow(owner);
            SetTimer(owner, kStepTimer, 150, nullptr);
            TrackPopupMenu(view->m_hMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, 40, 40,
                           0, owner, nullptr);
            KillTimer(owner, kStepTimer);
            g_run = nullptr;
        }

        EXPECT_TRUE(run.shot.saved) << look.name;
        EXPECT_GT(run.shot.height, 6 * GetSystemMetrics(SM_CYMENU) - 10);
        EXPECT_GT(run.shot.distinctColours, 6);
        EXPECT_GE(run.drawRequests, 7 * 2);  // each item measured and drawn through its data
    }
    DestroyWindow(owner);
    MenuPlatform::Current().Assume(kOsOtherNt, false);
}
