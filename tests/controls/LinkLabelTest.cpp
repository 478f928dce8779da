// The hyperlink label on real statics under the test display: how it prepares the control,
// its colours, hover and cursor, its size, its setters from another thread, and opening.
#include <gtest/gtest.h>

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "Canvas.h"
#include "CodePage.h"
#include "Host.h"
#include "LinkLabel.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

constexpr int kLinkId = 1025;
const wchar_t kCaption[] = L"访问首页";

class Link : public testing::Test {
public:
    void Bind(DWORD style = SS_LEFT, RECT rect = {20, 20, 120, 36}) {
        m_window = m_host.Add(L"Static", kCaption, style, kLinkId, rect);
        ASSERT_TRUE(m_link.Subclass(m_window));
        m_link.GetWindowText();  // any call prepares it
        Host::Pump();
    }
    // Pixels of colour in the label as it paints itself now.
    int PixelsOf(COLORREF colour) const {
        RECT client;
        GetClientRect(m_window, &client);
        Canvas canvas(client.right, client.bottom);
        SendMessageW(m_window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
        int count = 0;
        for (int y = 0; y < client.bottom; ++y)
            for (int x = 0; x < client.right; ++x) count += canvas.At(x, y) == colour;
        return count;
    }
    std::wstring TipText() const {
        wchar_t text[512] = {};
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = m_window;
        tool.uId = 1;
        tool.lpszText = text;
        SendMessageW(m_link.GetToolTip(), TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
        return text;
    }
    void MoveMouse(int x, int y) const {
        SendMessageW(m_window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
    }
    void Click() const {
        SendMessageW(m_host.Window(), WM_COMMAND, MAKEWPARAM(kLinkId, STN_CLICKED),
                     reinterpret_cast<LPARAM>(m_window));
    }

    Host m_host;
    LinkLabel m_link;
    HWND m_window = nullptr;
};

int FixedShellResult = 0;
int FixedShell(const std::wstring&, int) {
    return FixedShellResult;
}

}  // namespace

TEST_F(Link, PreparesTheControlWhenBound) {
    Bind();
    EXPECT_TRUE(GetWindowLongW(m_window, GWL_STYLE) & SS_NOTIFY);
    EXPECT_EQ(ToWide(m_link.GetLinkTarget()), kCaption);  // until a target is set
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(m_window, WM_GETFONT, 0, 0)), sizeof(font),
               &font);
    EXPECT_TRUE(font.lfUnderline);
    EXPECT_STREQ(font.lfFaceName, L"宋体");
    ASSERT_NE(m_link.GetToolTip(), nullptr);
    EXPECT_EQ(TipText(), kCaption);
    // The tip follows the mouse by itself: the dialog's message loop relays nothing to it.
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_window;
    tool.uId = 1;
    ASSERT_TRUE(
        SendMessageW(m_link.GetToolTip(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_TRUE(tool.uFlags & TTF_SUBCLASS);
}

TEST_F(Link, ColourFollowsHoverAndVisitedStates) {
    Bind();
    struct Step {
        const char* name;
        void (*act)(Link&);
        COLORREF expected;
    };
    const COLORREF hover = m_link.m_clrHover, link = m_link.m_clrLink;
    const COLORREF visited = m_link.m_clrVisited;
    const Step steps[] = {
        {"normal", [](Link&) {}, link},
        {"hover", [](Link& t) { t.MoveMouse(2, 2); }, hover},
        {"left", [](Link& t) { t.MoveMouse(-5, -5); }, link},
        {"visited", [](Link& t) { t.m_link.MarkVisited(true); }, visited},
        {"visited, hover", [](Link& t) { t.MoveMouse(2, 2); }, hover},
        {"visited, left", [](Link& t) { t.MoveMouse(500, 2); }, visited},
    };
    for (const Step& step : steps) {
        step.act(*this);
        EXPECT_GT(PixelsOf(step.expected), 0) << step.name;
        for (COLORREF other : {hover, link, visited})
            if (other != step.expected) {
                EXPECT_EQ(PixelsOf(other), 0) << step.name;
            }
    }
}

TEST_F(Link, HoverHoldsTheCaptureAndShowsTheHandCursor) {
    Bind();
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    m_link.SetHandCursor(hand);
    MoveMouse(3, 3);
    EXPECT_TRUE(m_link.IsHovering());
    EXPECT_EQ(GetCapture(), m_window);
    MoveMouse(4, 4);  // within: nothing changes
    EXPECT_EQ(GetCapture(), m_window);
    EXPECT_EQ(SendMessageW(m_window, WM_SETCURSOR, reinterpret_cast<WPARAM>(m_window),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), hand);
    MoveMouse(3, -1);
    EXPECT_FALSE(m_link.IsHovering());
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(Link, FitsItsTextByAlignment) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, m_host.Font());
    SIZE text{};
    GetTextExtentPoint32W(dc, kCaption, 4, &text);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);

    struct Case {
        const char* name;
        DWORD style;
        int extraWidth, extraHeight;
        RECT expected;  // relative to the label's place before fitting (20, 20)
    };
    const int w = text.cx, h = text.cy;
    const Case cases[] = {
        {"left", SS_LEFT, 20, 6, {0, 0, w, h}},
        {"centre, even", SS_CENTER, 20, 6, {10, 0, 10 + w, h}},
        {"centre, odd", SS_CENTER, 21, 6, {10, 0, 11 + w, h}},
        {"right", SS_RIGHT, 21, 6, {21, 0, 21 + w, h}},
        {"centred vertically, even", SS_LEFT | SS_CENTERIMAGE, 0, 6, {0, 3, w, 3 + h}},
        {"centred vertically, odd", SS_LEFT | SS_CENTERIMAGE, 0, 7, {0, 3, w, 4 + h}},
    };
    for (const Case& c : cases) {
        LinkLabel link;
        HWND window = m_host.Add(L"Static", kCaption, c.style, kLinkId,
                                 {20, 20, 20 + w + c.extraWidth, 20 + h + c.extraHeight});
        ASSERT_TRUE(link.Subclass(window));
        link.FitToText();
        const RECT place = PlaceInParent(window);
        EXPECT_EQ(place.left - 20, c.expected.left) << c.name;
        EXPECT_EQ(place.top - 20, c.expected.top) << c.name;
        EXPECT_EQ(place.right - 20, c.expected.right) << c.name;
        EXPECT_EQ(place.bottom - 20, c.expected.bottom) << c.name;
        DestroyWindow(window);
    }
}

TEST_F(Link, SettersFromAnotherThreadTakeEffectOnTheLabelsThread) {
    Bind();
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        m_link.SetLinkTarget("http://127.0.0.1:9/freeUpdate/log.asp");
        m_link.SetHandCursor(hand);
        done = true;
        PostThreadMessageW(GetWindowThreadProcessId(m_window, nullptr), WM_NULL, 0, 0);
    });
    for (int tries = 0; !done && tries < 500; ++tries) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT | QS_SENDMESSAGE);
        Host::Pump();
    }
    worker.join();
    EXPECT_EQ(m_link.GetLinkTarget(), "http://127.0.0.1:9/freeUpdate/log.asp");
    EXPECT_EQ(TipText(), L"http://127.0.0.1:9/freeUpdate/log.asp");
    EXPECT_EQ(m_link.GetHandCursor(), hand);
    // The label was fitted to its caption, not to the target.
    EXPECT_EQ(ToWide(m_link.GetWindowText()), kCaption);
}

TEST_F(Link, AFailedOpenBeepsShowsTheReasonAndClearsVisited) {
    Bind();
    struct Case {
        const char* name;
        ShellOpen shell;  // null: the real shell, with the caption as the target
        int result;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {"file not found", nullptr, 0, L"The specified file was not found."},
        {"out of resources", FixedShell, 0,
         L"The operating system is out\nof memory or resources."},
        {"path not found", FixedShell, 3, L"The specified path was not found."},
        {"access denied", FixedShell, 5,
         L"The operating system denied\naccess to the specified file."},
        {"out of memory", FixedShell, 8, L"There was not enough memory to complete the operation."},
        {"bad format", FixedShell, 11,
         L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {"sharing", FixedShell, 26, L"A sharing violation occurred. "},
        {"association incomplete", FixedShell, 27,
         L"The filename association is\nincomplete or invalid."},
        {"DDE timeout", FixedShell, 28,
         L"The DDE transaction could not\nbe completed because the request timed out."},
        {"DDE failed", FixedShell, 29, L"The DDE transaction failed."},
        {"DDE busy", FixedShell, 30,
         L"The DDE transaction could not\nbe completed because other DDE transactions\nwere "
         L"being processed."},
        {"no association", FixedShell, 31,
         L"There is no application associated\nwith the given filename extension."},
        {"unknown", FixedShell, 4, L"Unknown Error (4) occurred."},
        {"unknown, negative", FixedShell, -7, L"Unknown Error (-7) occurred."},
    };
    for (const Case& c : cases) {
        m_link.MarkVisited(true);
        m_link.m_openWithShell = c.shell ? c.shell : ShellOpenTarget;
        FixedShellResult = c.result;
        BoxReader box;
        Click();
        EXPECT_EQ(box.Text(), std::wstring(L"Unable to open hyperlink:\n\n") + c.reason) << c.name;
        EXPECT_EQ(box.Caption(), L"controls_tests") << c.name;  // the program's name
        EXPECT_FALSE(m_link.IsVisited()) << c.name;
    }
    // 32 makes a click try the ".htm" command first (see LinkOpeningTest); its reason text:
    BoxReader box;
    ShowOpenError(m_window, 32);
    EXPECT_EQ(box.Text(),
              L"Unable to open hyperlink:\n\nThe specified dynamic-link library was not found.");
    EXPECT_EQ(box.Caption(), L"controls_tests");
}

TEST(HandCursor, OnlyAModuleWithCursor106GivesOne) {
    EXPECT_NE(LoadHandCursorFrom(RunningProgramFolder() + L"\\hand_cursor_module.dll"), nullptr);
    EXPECT_EQ(LoadHandCursorFrom(RunningProgramFolder() + L"\\link_recorder.exe"), nullptr);
    EXPECT_EQ(LoadHandCursorFrom(RunningProgramFolder() + L"\\no such module.exe"), nullptr);
}
