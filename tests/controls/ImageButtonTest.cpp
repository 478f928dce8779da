// The image button on real buttons under the test display: its drawing read back pixel by
// pixel from a memory DC, its icons, and how it answers the messages that dialogs send it.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "Canvas.h"
#include "CodePage.h"
#include "Host.h"
#include "ImageButton.h"
#include "TestSupport.h"
#include "resource_ids.h"

using namespace testsupport;

namespace {

constexpr int kButtonId = 1;
constexpr int kWidth = 78, kHeight = 27;  // 52 x 18 dialog units of the updater's font
const COLORREF kIconColour = RGB(100, 150, 200);
const COLORREF kRestColour = RGB(200, 60, 20);

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

const COLORREF kKeyColour = RGB(0, 255, 0);  // transparent in the bitmaps

// A size x size bitmap of one colour with its top left pixel in kKeyColour.
HBITMAP MakeBitmap(int size, COLORREF colour) {
    HDC screen = GetDC(nullptr);
    HBITMAP image = CreateCompatibleBitmap(screen, size, size);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, image);
    const RECT all{0, 0, size, size};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SetPixel(dc, 0, 0, kKeyColour);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return image;
}

struct Box {
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, count = 0;
};

class ImageButtonTest : public testing::Test {
protected:
    // Other tests' windows share the display: the buttons' window stays in front of them, so
    // that the window under a button's point is the button, and keeps the activation.
    void SetUp() override {
        SetWindowPos(m_host.Window(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetForegroundWindow(m_host.Window());
    }
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
    void MakeHot(HWND window) const { SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5)); }

    Host m_host;
};

}  // namespace

TEST_F(ImageButtonTest, FaceBorderIconAndCaptionInEachStateAndLayout) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    const COLORREF black = RGB(0, 0, 0);
    const int iconTop = (kHeight - 24) / 2;
    constexpr int kTall = 48;  // room for an icon above the caption
    struct Case {
        const char* name;
        bool hot = false;
        UINT state = 0;
        COLORREF topLeft, bottomRight;
        int shift = 0;  // of icon and caption
        bool plainIcon = true, plainCaption = true;
        COLORREF icon = kIconColour;  // the hot icon; kRestColour the rest icon
        bool flat = true, focusWhenFlat = false, checkBox = false;
        int check = 0;
        COLORREF innerTopLeft = CLR_INVALID, innerBottomRight = CLR_INVALID;  // one pixel in
        bool focusRect = false;
        ImageButton::IconLayout layout = ImageButton::ICON_LEFT;
        const wchar_t* caption = L"开始更新";
        int height = kHeight;
        POINT iconAt = {3, iconTop};
        RECT captionArea = {28, 0, kWidth, kHeight};
    };
    const Case cases[] = {
        {.name = "rest", .topLeft = face, .bottomRight = face, .icon = kRestColour},
        {.name = "hot", .hot = true, .topLeft = light, .bottomRight = shadow},
        {.name = "pressed",
         .hot = true,
         .state = ODS_SELECTED,
         .topLeft = shadow,
         .bottomRight = light,
         .shift = 1},
        {.name = "disabled",
         .state = ODS_DISABLED,
         .topLeft = face,
         .bottomRight = face,
         .plainIcon = false,
         .plainCaption = false},
        {.name = "raised",
         .topLeft = light,
         .bottomRight = GetSysColor(COLOR_3DDKSHADOW),
         .icon = kRestColour,
         .flat = false,
         .innerTopLeft = GetSysColor(COLOR_3DLIGHT),
         .innerBottomRight = shadow},
        {.name = "raised and pressed",
         .state = ODS_SELECTED,
         .topLeft = shadow,
         .bottomRight = shadow,
         .shift = 1,
         .flat = false,
         .innerTopLeft = face},
        {.name = "raised with the focus",
         .state = ODS_FOCUS,
         .topLeft = black,
         .bottomRight = black,
         .icon = kRestColour,
         .flat = false,
         .innerTopLeft = light,
         .focusRect = true},
        {.name = "flat with the focus",
         .state = ODS_FOCUS,
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour},
        {.name = "flat with the focus, asked to show it",
         .state = ODS_FOCUS,
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .focusWhenFlat = true,
         .focusRect = true},
        {.name = "check box checked",
         .topLeft = shadow,
         .bottomRight = light,
         .checkBox = true,
         .check = 1},
        {.name = "check box unchecked",
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .checkBox = true},
        {.name = "check box held down",
         .state = ODS_SELECTED,
         .topLeft = shadow,
         .bottomRight = light,
         .checkBox = true},
        {.name = "layout 0 without caption",
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .caption = L"",
         .iconAt = {(kWidth - 24) / 2, iconTop}},
        {.name = "layout 1",
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .layout = ImageButton::ICON_ABOVE,
         .height = kTall,
         .iconAt = {(kWidth - 24) / 2, 3},
         .captionArea = {0, 27, kWidth, kTall}},
        {.name = "layout 1 without caption",
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .layout = ImageButton::ICON_ABOVE,
         .caption = L"",
         .height = kTall,
         .iconAt = {(kWidth - 24) / 2, (kTall - 24) / 2}},
        {.name = "layout 2",
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .layout = ImageButton::ICON_RIGHT,
         .iconAt = {kWidth - 24 - 3, iconTop},
         .captionArea = {0, 0, kWidth - 24 - 3, kHeight}},
        {.name = "layout 2 without caption",
         .topLeft = face,
         .bottomRight = face,
         .icon = kRestColour,
         .layout = ImageButton::ICON_RIGHT,
         .caption = L"",
         .height = kTall,
         .iconAt = {(kWidth - 24) / 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageButton button;
        HWND window =
            Bind(button, c.caption, (c.checkBox ? BS_AUTOCHECKBOX : BS_PUSHBUTTON) | WS_TABSTOP);
        SetWindowPos(window, nullptr, 0, 0, kWidth, c.height, SWP_NOMOVE | SWP_NOZORDER);
        button.m_flat = c.flat;
        button.m_focusWhenFlat = c.focusWhenFlat;
        button.m_iconLayout = c.layout;
        button.SetCheckState(c.check, false);
        button.SetIconHandles(MakeIcon(24, kIconColour), MakeIcon(24, kRestColour));
        if (c.hot) MakeHot(window);
        ASSERT_EQ(button.IsHot(), c.hot);
        ASSERT_EQ(button.IsCheckMode(), c.checkBox);
        Canvas canvas(kWidth, c.height);
        Draw(button, window, c.state, canvas);

        EXPECT_EQ(canvas.At(0, 0), c.topLeft);
        EXPECT_EQ(canvas.At(kWidth - 1, c.height - 1), c.bottomRight);
        if (c.innerTopLeft != CLR_INVALID) {
            EXPECT_EQ(canvas.At(1, 1), c.innerTopLeft);
        }
        if (c.innerBottomRight != CLR_INVALID) {
            EXPECT_EQ(canvas.At(kWidth - 2, c.height - 2), c.innerBottomRight);
        }
        const Box icon = Where(canvas, c.icon, {0, 0, kWidth, c.height});
        if (c.plainIcon) {
            EXPECT_EQ(icon.left, c.iconAt.x + c.shift);
            EXPECT_EQ(icon.top, c.iconAt.y + c.shift);
            EXPECT_EQ(icon.right, c.iconAt.x + 23 + c.shift);
            const COLORREF other = c.icon == kIconColour ? kRestColour : kIconColour;
            EXPECT_EQ(Where(canvas, other, {0, 0, kWidth, c.height}).count, 0);
        } else {
            EXPECT_EQ(icon.count, 0);  // embossed
        }
        // The focus rectangle runs three pixels inside the face, the edges one or two.
        int marked = 0;
        for (int y = 3; y <= 4; ++y)
            for (int x = 30; x < 70; ++x) {
                const COLORREF pixel = canvas.At(x, y);
                marked +=
                    pixel != face && pixel != kIconColour && pixel != kRestColour && pixel != black;
            }
        if (c.focusRect) {
            EXPECT_GT(marked, 10);
        } else {
            EXPECT_EQ(marked, 0);
        }
        if (!*c.caption) {
            DestroyWindow(window);
            continue;
        }
        // Inside the edges and frames of every look.
        const RECT captionArea{std::max(c.captionArea.left, 2L), std::max(c.captionArea.top, 2L),
                               std::min(c.captionArea.right, kWidth - 2L),
                               std::min(c.captionArea.bottom, c.height - 2L)};
        const Box plain = Where(canvas, text, captionArea);
        const Box lit = Where(canvas, light, captionArea);
        const Box dark = Where(canvas, shadow, captionArea);
        if (c.plainCaption) {
            EXPECT_GT(plain.count, 20);
            if (!c.focusRect) {  // the focus rectangle's dots may turn light over the text
                EXPECT_EQ(lit.count, 0);
            }
            if (c.shift) {
                Canvas rest(kWidth, c.height);
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

TEST_F(ImageButtonTest, BitmapsShowThroughTheirMaskAndTurnGrayWhenDisabled) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const int top = (kHeight - 16) / 2;
    struct Case {
        const char* name;
        bool hot;
        UINT state;
        bool grayWhenDisabled;
        COLORREF shown;  // CLR_INVALID: neither bitmap's colour, the embossed look instead
        int shift;
    };
    const Case cases[] = {
        {"rest", false, 0, true, kRestColour, 0},
        {"hot", true, 0, true, kIconColour, 0},
        {"pressed", true, ODS_SELECTED, true, kIconColour, 1},
        {"disabled", false, ODS_DISABLED, true, CLR_INVALID, 0},
        {"disabled, kept in colour", false, ODS_DISABLED, false, kRestColour, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageButton button;
        HWND window = Bind(button);
        button.m_grayBitmapWhenDisabled = c.grayWhenDisabled;
        ASSERT_EQ(button.SetBitmaps(MakeBitmap(16, kIconColour), kKeyColour,
                                    MakeBitmap(16, kRestColour), kKeyColour),
                  0u);
        EXPECT_EQ(button.Bitmap(0).width, 16u);
        EXPECT_EQ(button.Bitmap(1).height, 16u);
        if (c.hot) MakeHot(window);
        Canvas canvas(kWidth, kHeight);
        Draw(button, window, c.state, canvas);
        const RECT all{0, 0, kWidth, kHeight};
        EXPECT_EQ(Where(canvas, kKeyColour, all).count, 0);
        const int x = 3 + c.shift, y = top + c.shift;
        if (c.shown != CLR_INVALID) {
            const Box image = Where(canvas, c.shown, all);
            EXPECT_EQ(image.count, 16 * 16 - 1);
            EXPECT_EQ(image.left, x);
            EXPECT_EQ(image.top, y);
            EXPECT_EQ(canvas.At(x, y), face);  // the transparent pixel
        } else {
            EXPECT_EQ(Where(canvas, kIconColour, all).count, 0);
            EXPECT_EQ(Where(canvas, kRestColour, all).count, 0);
            EXPECT_GT(Where(canvas, shadow, {x, y, x + 16, y + 16}).count, 100);
        }
        DestroyWindow(window);
    }
    ImageButton button;
    Bind(button);
    EXPECT_EQ(button.SetBitmaps(reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(0x1234)), 0), 1u);
    EXPECT_EQ(button.Bitmap(0).image, nullptr);
}

TEST_F(ImageButtonTest, TransparentFaceIsTheParentsBackgroundCapturedOnce) {
    ImageButton button;
    HWND window = Bind(button, L"");
    button.m_transparent = true;
    struct Step {
        const char* name;
        COLORREF parent;  // painted where the button lies
        bool colourChange;
        COLORREF face;
    };
    const Step steps[] = {
        {"first paint captures", RGB(200, 30, 30), false, RGB(200, 30, 30)},
        {"later paints reuse the capture", RGB(30, 30, 200), false, RGB(200, 30, 30)},
        {"a system colour change drops it", RGB(30, 30, 200), true, RGB(30, 30, 200)},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        // The host clips no children: this paints over the button's place.
        HDC parent = GetDC(m_host.Window());
        const RECT place = PlaceInParent(window);
        HBRUSH brush = CreateSolidBrush(step.parent);
        FillRect(parent, &place, brush);
        DeleteObject(brush);
        ReleaseDC(m_host.Window(), parent);
        if (step.colourChange) SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
        Canvas canvas(kWidth, kHeight);
        Draw(button, window, 0, canvas);
        EXPECT_EQ(canvas.At(0, 0), step.face);
        EXPECT_EQ(canvas.At(kWidth / 2, kHeight / 2), step.face);
        EXPECT_EQ(canvas.At(kWidth - 1, kHeight - 1), step.face);
    }
    DestroyWindow(window);
}

TEST_F(ImageButtonTest, TheTipIsMadeOnFirstUseAndSpeaksOnceGivenAText) {
    ImageButton button;
    HWND window = Bind(button);
    EXPECT_EQ(button.GetToolTip(), nullptr);
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(200, 200));  // outside: not lit
    HWND tip = button.GetToolTip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(GetWindow(tip, GW_OWNER), m_host.Window());  // owners are top-level windows
    EXPECT_EQ(SendMessageW(tip, TTM_GETMAXTIPWIDTH, 0, 0), 400);
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 0);
    auto tipText = [&] {
        wchar_t text[256] = {};
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = window;
        tool.uId = reinterpret_cast<UINT_PTR>(window);
        tool.lpszText = text;
        SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return std::wstring(text);
    };
    for (const wchar_t* text : {L"开始下载新版本", L"Start the update"}) {
        button.SetTooltipText(ToGbk(std::wstring(text)));
        EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
        EXPECT_EQ(tipText(), text);
    }
    // The button passes its own mouse moves on, so the tip shows over it while the pointer
    // rests there and its window is the active one (tips without TTS_ALWAYSTIP wait for
    // that). Other tests' windows share the display and may come in between: try again.
    RECT rect;
    GetWindowRect(window, &rect);
    for (int attempt = 0; attempt < 4 && !IsWindowVisible(tip); ++attempt) {
        SetForegroundWindow(m_host.Window());
        SetActiveWindow(m_host.Window());
        SetCursorPos(rect.left + 10, rect.top + 10);
        Host::Pump();
        // Once: each move starts the tip's delay again.
        SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
        const DWORD start = GetTickCount();
        while (!IsWindowVisible(tip) && GetTickCount() - start < 2000) {
            Host::Pump();
            Sleep(20);
        }
    }
    EXPECT_TRUE(IsWindowVisible(tip));
    DestroyWindow(window);
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
    struct Case {
        const char* name;
        bool focusedFirst;
        bool othersThere;  // else the button is the parent's only control
    };
    const Case cases[] = {
        {"had the focus", true, true},
        {"focus elsewhere", false, true},
        {"no next tab stop: the parent", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageButton start;
        HWND first = Bind(start, L"开始更新", BS_PUSHBUTTON | WS_TABSTOP, 1, 20);
        HWND second = nullptr, third = nullptr;
        if (c.othersThere) {
            second = m_host.Add(L"Button", L"停止更新", BS_PUSHBUTTON | WS_TABSTOP, 2,
                                {110, 20, 180, 40});
            third = m_host.Add(L"Edit", L"", WS_TABSTOP, 3, {200, 20, 260, 40});
        }
        SetFocus(c.focusedFirst ? first : third);
        EnableWindow(first, FALSE);
        EXPECT_EQ(GetFocus(), c.othersThere ? second : m_host.Window());
        for (HWND window : {first, second, third})
            if (window) DestroyWindow(window);
    }
}

// Chooses the first item of the popup menu that the thread is about to show.
class MenuChooser {
public:
    MenuChooser() : m_thread(GetCurrentThreadId()) {
        m_watcher = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
    }
    ~MenuChooser() {
        WaitForSingleObject(m_watcher, 10000);
        CloseHandle(m_watcher);
    }
    MenuChooser(const MenuChooser&) = delete;
    MenuChooser& operator=(const MenuChooser&) = delete;

private:
    static BOOL CALLBACK FindMenu(HWND window, LPARAM found) {
        wchar_t name[16] = {};
        GetClassNameW(window, name, 16);
        if (std::wstring(name) != L"#32768" || !IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    static DWORD WINAPI Watch(void* self) {
        auto* chooser = static_cast<MenuChooser*>(self);
        for (int tries = 0; tries < 500; ++tries) {
            HWND menu = nullptr;
            EnumThreadWindows(chooser->m_thread, FindMenu, reinterpret_cast<LPARAM>(&menu));
            if (menu) {
                PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
                PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
                return 0;
            }
            Sleep(10);
        }
        return 0;
    }
    DWORD m_thread;
    HANDLE m_watcher = nullptr;
};

TEST_F(ImageButtonTest, AClickTogglesTheCheckShowsTheMenuOrOpensTheAddress) {
    constexpr int kSaveCommand = 101;
    TempDir folder(L"按钮 地址");
    const std::wstring record = folder.File(L"command line.txt");
    SetEnvironmentVariableW(L"QV_RECORD_FILE", record.c_str());
    const std::wstring recorder = RunningProgramFolder() + L"\\link_recorder.exe";
    enum Kind { kCheck, kMenu, kAddress };
    for (const Kind kind : {kCheck, kMenu, kAddress}) {
        SCOPED_TRACE(kind);
        VantuMenu file;  // outlives the button, whose menu destroys the handle
        ImageButton button;
        HWND window = Bind(button, L"开始更新",
                           (kind == kCheck ? BS_AUTOCHECKBOX : BS_PUSHBUTTON) | WS_TABSTOP);
        if (kind == kMenu) {
            ASSERT_TRUE(file.CreatePopupMenu());
            file.AppendItem(L"&Save", 0, kSaveCommand);
            ASSERT_TRUE(button.m_menu.CreatePopupMenu());
            button.m_menu.AppendItem(L"&File", MF_POPUP, reinterpret_cast<UINT_PTR>(file.m_hMenu));
            button.m_hMenuOwner = m_host.Window();
        }
        if (kind == kAddress) button.SetClickUrl(std::string(ToGbk(recorder).Bytes()).c_str());
        const int clicksBefore = m_host.Clicks(kButtonId);
        for (int click = 1; click <= 2; ++click) {
            std::optional<MenuChooser> chooser;
            if (kind == kMenu) chooser.emplace();
            SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
            SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
            chooser.reset();
            // A program started by the address may take the activation, and the focus with it.
            if (kind != kAddress) {
                EXPECT_EQ(GetFocus(), window);
            }
            Host::Pump();
            EXPECT_EQ(m_host.Clicks(kButtonId), clicksBefore + click);
            if (kind == kCheck) {
                EXPECT_EQ(button.GetCheckState(), click % 2);
            }
            if (kind == kMenu) {  // the chosen command is posted to the menu's owner
                EXPECT_EQ(m_host.Clicks(kSaveCommand), click);
            }
        }
        if (kind == kAddress) {
            std::string bytes;
            for (int tries = 0; tries < 500 && !ReadFileBytes(record, bytes); ++tries) Sleep(10);
            const std::wstring line(reinterpret_cast<const wchar_t*>(bytes.data()),
                                    bytes.size() / sizeof(wchar_t));
            EXPECT_NE(line.find(L"link_recorder"), std::wstring::npos) << bytes.size();
        }
        DestroyWindow(window);
    }
    SetEnvironmentVariableW(L"QV_RECORD_FILE", nullptr);
}

TEST_F(ImageButtonTest, MenuCharacterAndItemSizeGoToTheButtonsMenu) {
    VantuMenu file;
    ImageButton button;
    HWND window = Bind(button);
    ASSERT_TRUE(file.CreatePopupMenu());
    file.AppendItem(L"&Open", 0, 100);
    file.AppendItem(L"&Save", 0, 101);
    ASSERT_TRUE(button.m_menu.CreatePopupMenu());
    button.m_menu.AppendItem(L"&File", MF_POPUP, reinterpret_cast<UINT_PTR>(file.m_hMenu));
    HMENU foreign = CreatePopupMenu();
    AppendMenuW(foreign, MF_STRING, 102, L"&Save");
    struct Case {
        const char* name;
        HMENU menu;
        UINT flags;
        LRESULT expected;
    };
    const Case chars[] = {
        {"ours", file.m_hMenu, MF_POPUP, MAKELRESULT(1, MNC_EXECUTE)},
        {"ours, not a popup", file.m_hMenu, 0, 0},
        {"another menu", foreign, MF_POPUP, -1},  // the system's answer, never an execute
    };
    for (const Case& c : chars) {
        const LRESULT result = SendMessageW(window, WM_MENUCHAR, MAKEWPARAM('S', c.flags),
                                            reinterpret_cast<LPARAM>(c.menu));
        if (c.expected >= 0) {
            EXPECT_EQ(result, c.expected) << c.name;
        } else {
            EXPECT_NE(HIWORD(result), MNC_EXECUTE) << c.name;
        }
    }
    const UINT unmeasured = 12345;
    struct SizeCase {
        const char* name;
        UINT itemId;
        ULONG_PTR data;
        bool measured;
    };
    const SizeCase sizes[] = {
        {"ours", static_cast<UINT>(reinterpret_cast<UINT_PTR>(file.m_hMenu)),
         reinterpret_cast<ULONG_PTR>(file.Items()[1].get()), true},
        {"an item of ours, by its command", 101, reinterpret_cast<ULONG_PTR>(file.Items()[1].get()),
         true},
        {"another menu's", static_cast<UINT>(reinterpret_cast<UINT_PTR>(foreign)), 0, false},
    };
    for (const SizeCase& c : sizes) {
        MEASUREITEMSTRUCT item{ODT_MENU, 0, c.itemId, unmeasured, unmeasured, c.data};
        SendMessageW(window, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(item.itemWidth != unmeasured, c.measured) << c.name;
        if (c.measured) {
            EXPECT_GE(item.itemHeight, static_cast<UINT>(GetSystemMetrics(SM_CYMENU))) << c.name;
        }
    }
    DestroyMenu(foreign);
    DestroyWindow(window);
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
