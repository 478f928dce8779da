// The image button on real buttons under the test display: its drawing read back pixel by
// pixel from a memory DC, its icons, and how it answers the messages that dialogs send it.
#include <gtest/gtest.h>

#include <vector>

#include "Canvas.h"
#include "Host.h"
#include "ImageButton.h"
#include "resource_ids.h"

namespace {

constexpr int kButtonId = 1;
constexpr int kWidth = 78, kHeight = 27;  // 52 x 18 dialog units of the updater's font
const COLORREF kIconColour = RGB(100, 150, 200);

// A size x size icon of one colour, fully opaque, with black in its top left pixel.
HICON MakeIcon(int size, COLORREF colour) {
    HDC screen = GetDC(nullptr);
    HBITMAP image = CreateCompatibleBitmap(screen, size, size);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, image);
    const RECT all{0, 0, size, size};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SetPixel(dc, 0, 0, RGB(0, 0, 0));
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    std::vector<BYTE> zeros(static_cast<size_t>(size * size / 8 + size * 2), 0);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, zeros.data());
    ICONINFO info{TRUE, 0, 0, mask, image};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(image);
    return icon;
}

struct Box {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, count = 0;
};

class ImageButtonTest : public testing::Test {
protected:
    HWND Bind(ImageButton& button, const wchar_t* caption = L"开始更新",
              DWORD style = BS_PUSHBUTTON | WS_TABSTOP, int id = kButtonId, int x = 20,
              int width = kWidth) {
        HWND window = m_host.Add(L"Button", caption, style, id, {x, 20, x + width, 20 + kHeight});
        button.Subclass(window);
        SendMessageW(window, WM_GETDLGCODE, 0, 0);  // its first message prepares it
        return window;
    }
    // Draws the button as its parent would ask for, into a fresh canvas.
    void Draw(ImageButton& button, HWND window, UINT state, Canvas& canvas) const {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hwndItem = window;
        item.hDC = canvas.Dc();
        item.itemState = state;
        GetClientRect(window, &item.rcItem);
        HGDIOBJ old = SelectObject(canvas.Dc(), m_host.Font());
        button.DrawItem(item);
        SelectObject(canvas.Dc(), old);
    }
    static Box Where(const Canvas& canvas, COLORREF colour, RECT area) {
        Box box;
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (canvas.At(x, y) == colour) {
                    box.left = std::min(box.left, x);
                    box.top = std::min(box.top, y);
                    box.right = std::max(box.right, x);
                    box.bottom = std::max(box.bottom, y);
                    ++box.count;
                }
        return box;
    }
    void MakeHot(HWND window) const {
        SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    }

    Host m_host;
};

}  // namespace

TEST_F(ImageButtonTest, FaceBorderIconAndCaptionInEachState) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    const int iconTop = (kHeight - 24) / 2;
    struct Case {
        const char* name;
        bool hot;
        UINT state;
        COLORREF topLeft, bottomRight;
        int shift;  // of icon and caption
        bool plainIcon, plainCaption;
    };
    const Case cases[] = {
        {"rest", false, 0, face, face, 0, true, true},
        {"hot", true, 0, light, shadow, 0, true, true},
        {"pressed", true, ODS_SELECTED, shadow, light, 1, true, true},
        {"disabled", false, ODS_DISABLED, face, face, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageButton button;
        HWND window = Bind(button);
        button.SetIconHandles(MakeIcon(24, kIconColour), nullptr);
        if (c.hot) MakeHot(window);
        ASSERT_EQ(button.IsHot(), c.hot);
        Canvas canvas(kWidth, kHeight);
        Draw(button, window, c.state, canvas);

        EXPECT_EQ(canvas.At(0, 0), c.topLeft);
        EXPECT_EQ(canvas.At(kWidth - 1, kHeight - 1), c.bottomRight);
        const Box icon = Where(canvas, kIconColour, {0, 0, kWidth, kHeight});
        if (c.plainIcon) {
            EXPECT_EQ(icon.left, 3 + c.shift);
            EXPECT_EQ(icon.top, iconTop + c.shift);
            EXPECT_EQ(icon.right, 3 + 23 + c.shift);
        } else {
            EXPECT_EQ(icon.count, 0);  // embossed
        }
        const RECT captionArea{28, 0, kWidth, kHeight};  // right of the icon
        const Box plain = Where(canvas, text, captionArea);
        const Box lit = Where(canvas, light, {28, 1, kWidth - 1, kHeight - 1});
        const Box dark = Where(canvas, shadow, {28, 1, kWidth - 1, kHeight - 1});
        if (c.plainCaption) {
            EXPECT_GT(plain.count, 20);
            EXPECT_EQ(lit.count, 0);
            if (c.shift) {
                Canvas rest(kWidth, kHeight);
                Draw(button, window, 0, rest);
                const Box unshifted = Where(rest, text, captionArea);
                EXPECT_EQ(plain.left, unshifted.left + 1);
                EXPECT_EQ(plain.top, unshifted.top + 1);
            }
        } else {  // drawn twice: highlight one pixel right and down, shadow on top
            EXPECT_EQ(plain.count, 0);
            EXPECT_GT(dark.count, 20);
            EXPECT_EQ(lit.right, dark.right + 1);
            EXPECT_EQ(lit.bottom, dark.bottom + 1);
        }
        DestroyWindow(window);
    }
}

TEST_F(ImageButtonTest, ACaptionWiderThanTheButtonWrapsAndStaysCentred) {
    ImageButton button;
    const int width = 60;
    HWND window = Bind(button, L"开始 更新 下载 完成", BS_PUSHBUTTON, kButtonId, 20, width);
    SetWindowPos(window, nullptr, 0, 0, width, 40, SWP_NOMOVE | SWP_NOZORDER);
    Canvas canvas(width, 40);
    Draw(button, window, 0, canvas);
    const Box text = Where(canvas, GetSysColor(COLOR_BTNTEXT), {0, 0, width, 40});
    TEXTMETRICW metrics{};
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, m_host.Font());
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    EXPECT_GT(text.bottom - text.top, metrics.tmHeight);  // more than one line
    EXPECT_LE(std::abs(text.left - (width - 1 - text.right)), 1);
    EXPECT_LE(std::abs(text.top - (40 - 1 - text.bottom)), 2);
}

TEST_F(ImageButtonTest, GrayIconKeepsBlackAndWeighsTheChannels) {
    ImageButton button;
    HICON gray = button.MakeGrayIcon(MakeIcon(4, kIconColour));
    ASSERT_NE(gray, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(gray, &info));
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, info.hbmColor);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(dc, 3, 3), RGB(140, 140, 140));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(gray);
}

TEST_F(ImageButtonTest, IconsFromTheProgramsResources) {
    struct Case {
        int rest;
        bool restIcon;
    };
    for (const Case& c : {Case{0, false}, Case{-2, true}, Case{IDI_STOP, true}}) {
        ImageButton button;
        Bind(button);
        button.LoadIcons(IDI_START, c.rest);
        EXPECT_EQ(button.Icon(0).width, 24u) << c.rest;
        EXPECT_EQ(button.Icon(0).height, 24u) << c.rest;
        EXPECT_EQ(button.Icon(1).handle != nullptr, c.restIcon) << c.rest;
    }
    ImageButton button;
    EXPECT_EQ(button.SetIconHandles(reinterpret_cast<HICON>(static_cast<INT_PTR>(0x1234)), nullptr),
              1u);
    EXPECT_EQ(button.Icon(0).handle, nullptr);
}

TEST_F(ImageButtonTest, DialogCodeStyleAndCheckMessages) {
    struct Case {
        const char* name;
        DWORD style;
        UINT message;
        WPARAM wParam;
        LRESULT dialogCodeBit;  // of WM_GETDLGCODE afterwards
        int check;              // of BM_GETCHECK afterwards
    };
    const Case cases[] = {
        {"plain", BS_PUSHBUTTON, WM_NULL, 0, DLGC_UNDEFPUSHBUTTON, 0},
        {"default", BS_DEFPUSHBUTTON, WM_NULL, 0, DLGC_DEFPUSHBUTTON, 0},
        {"made default", BS_PUSHBUTTON, BM_SETSTYLE, BS_DEFPUSHBUTTON, DLGC_DEFPUSHBUTTON, 0},
        {"made plain", BS_DEFPUSHBUTTON, BM_SETSTYLE, BS_PUSHBUTTON, DLGC_UNDEFPUSHBUTTON, 0},
        {"push button checked", BS_PUSHBUTTON, BM_SETCHECK, BST_CHECKED, DLGC_UNDEFPUSHBUTTON, 0},
        {"check box indeterminate", BS_AUTOCHECKBOX, BM_SETCHECK, BST_INDETERMINATE,
         DLGC_UNDEFPUSHBUTTON, 1},
        {"check box checked", BS_CHECKBOX, BM_SETCHECK, BST_CHECKED, DLGC_UNDEFPUSHBUTTON, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageButton button;
        HWND window = Bind(button, L"开始更新", c.style);
        if (c.message != WM_NULL) {
            EXPECT_EQ(SendMessageW(window, c.message, c.wParam, TRUE), 0);
        }
        EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & 0x1F, BS_OWNERDRAW);
        const LRESULT code = SendMessageW(window, WM_GETDLGCODE, 0, 0);
        EXPECT_TRUE(code & c.dialogCodeBit);
        EXPECT_FALSE(code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON) & ~c.dialogCodeBit);
        EXPECT_EQ(SendMessageW(window, BM_GETCHECK, 0, 0), c.check);
        DestroyWindow(window);
    }
}

TEST_F(ImageButtonTest, ADoubleClickIsTwoClicksAtTheParent) {
    ImageButton button;
    HWND window = Bind(button);
    const LPARAM at = MAKELPARAM(10, 10);
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(window, WM_LBUTTONUP, 0, at);
    SendMessageW(window, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(window, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(m_host.Clicks(kButtonId), 2);
    EXPECT_EQ(GetFocus(), window);
}

TEST_F(ImageButtonTest, ADisabledButtonPassesTheFocusOn) {
    for (bool focusedFirst : {true, false}) {
        SCOPED_TRACE(focusedFirst ? "had the focus" : "focus elsewhere");
        ImageButton start;
        HWND first = Bind(start, L"开始更新", BS_PUSHBUTTON | WS_TABSTOP, 1, 20);
        HWND second = m_host.Add(L"Button", L"停止更新", BS_PUSHBUTTON | WS_TABSTOP, 2,
                                 {110, 20, 180, 40});
        HWND third = m_host.Add(L"Edit", L"", WS_TABSTOP, 3, {200, 20, 260, 40});
        SetFocus(focusedFirst ? first : third);
        EnableWindow(first, FALSE);
        EXPECT_EQ(GetFocus(), second);
        for (HWND window : {first, second, third}) DestroyWindow(window);
    }
}

TEST_F(ImageButtonTest, HotUntilTheMouseLeavesOrTheButtonLosesFocusOrActivation) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
    };
    const Case cases[] = {
        {"leave", WM_MOUSELEAVE, 0},
        {"focus lost", WM_KILLFOCUS, 0},
        {"deactivated", WM_ACTIVATE, WA_INACTIVE},
        {"mode cancelled", WM_CANCELMODE, 0},
        {"disabled", WM_ENABLE, FALSE},
    };
    for (const Case& c : cases) {
        ImageButton button;
        HWND window = Bind(button);
        MakeHot(window);
        ASSERT_TRUE(button.IsHot()) << c.name;
        SendMessageW(window, c.message, c.wParam, 0);
        EXPECT_FALSE(button.IsHot()) << c.name;
        DestroyWindow(window);
    }
    ImageButton dragged;
    HWND window = Bind(dragged);
    SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_FALSE(dragged.IsHot());  // dragged in with the button held: not lit
}

TEST(ClickUrl, KeptWithinItsBytesAndWholeCharacters) {
    struct Case {
        std::string url;
        size_t kept;
    };
    const std::string dbcs = "\xB7\xC3";  // one GBK character
    const Case cases[] = {
        {"http://h/a", 10},
        {std::string(259, 'a'), 259},
        {std::string(300, 'a'), 259},
        {std::string(258, 'a') + dbcs, 258},
        {std::string(257, 'a') + dbcs, 259},
    };
    for (const Case& c : cases) {
        ImageButton button;
        button.SetClickUrl(c.url.c_str());
        EXPECT_EQ(std::string(button.GetClickUrl()), c.url.substr(0, c.kept)) << c.url.size();
    }
}
