// A gallery for people to look at: every look of the image button and of the link, each in a
// cell of its own over a patterned window, as the screen shows them. Saves
// screenshots/controls-gallery.bmp in the build tree. Its checks are one per cell: the
// cell's main colours are on the screen (the drawing itself is checked by the other tests).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Canvas.h"
#include "ImageButton.h"
#include "LinkLabel.h"
#include "Screenshot.h"
#include "resource_ids.h"

namespace {

constexpr int kColumns = 5, kRows = 3;
constexpr int kCellWidth = 132, kCellHeight = 92;
constexpr int kLabelHeight = 20;  // above the control, in each cell
const COLORREF kStripeA = RGB(255, 236, 200), kStripeB = RGB(205, 230, 255);
const COLORREF kBitmapColour = RGB(30, 160, 60), kBitmapKey = RGB(255, 0, 255);
const wchar_t kGalleryClass[] = L"QorvelControlsGallery";

enum class Look {
    kFlat,
    kRaised,
    kHot,
    kPressed,
    kDisabled,
    kChecked,
    kLayout0,
    kLayout1,
    kLayout2,
    kBitmap,
    kTransparent,
    kLink,
    kLinkVisited,
    kLinkHover,
};

struct Cell {
    Look look;
    const wchar_t* label;
};

const Cell kCells[] = {
    {Look::kFlat, L"flat"},
    {Look::kRaised, L"raised"},
    {Look::kHot, L"hot"},
    {Look::kPressed, L"pressed"},
    {Look::kDisabled, L"disabled"},
    {Look::kChecked, L"checked"},
    {Look::kLayout0, L"icon layout 0"},
    {Look::kLayout1, L"icon layout 1"},
    {Look::kLayout2, L"icon layout 2"},
    {Look::kBitmap, L"bitmap"},
    {Look::kTransparent, L"transparent"},
    {Look::kLink, L"link"},
    {Look::kLinkVisited, L"link, visited"},
    {Look::kLinkHover, L"link, hover"},
};

RECT CellRect(size_t index) {
    const int x = static_cast<int>(index % kColumns) * kCellWidth;
    const int y = static_cast<int>(index / kColumns) * kCellHeight;
    return {x, y, x + kCellWidth, y + kCellHeight};
}

bool IsLink(Look look) {
    return look == Look::kLink || look == Look::kLinkVisited || look == Look::kLinkHover;
}

// Where a cell's control goes, in the gallery's client area.
RECT ControlRect(size_t index, Look look) {
    const RECT cell = CellRect(index);
    const int height = IsLink(look)                                       ? 16
                       : look == Look::kLayout1 || look == Look::kLayout2 ? 52
                                                                          : 34;
    return {cell.left + 10, cell.top + kLabelHeight + 4, cell.right - 12,
            cell.top + kLabelHeight + 4 + height};
}

// Diagonal stripes, so that a transparent face shows that it copied its parent.
void PaintPattern(HDC dc, const RECT& area) {
    HBRUSH a = CreateSolidBrush(kStripeA);
    FillRect(dc, &area, a);
    DeleteObject(a);
    HPEN pen = CreatePen(PS_SOLID, 4, kStripeB);
    HGDIOBJ old = SelectObject(dc, pen);
    for (int x = area.left - area.bottom; x < area.right; x += 12) {
        MoveToEx(dc, x, area.top, nullptr);
        LineTo(dc, x + (area.bottom - area.top), area.bottom);
    }
    SelectObject(dc, old);
    DeleteObject(pen);
}

// The gallery window: the pattern and the cells' names. It clips no children, so that its
// painting runs under the transparent button before the button's first paint.
LRESULT CALLBACK GalleryProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectToControl(message, wParam, lParam, result)) return result;
    if (message == WM_ERASEBKGND) return TRUE;
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        PaintPattern(dc, client);
        HFONT font = reinterpret_cast<HFONT>(GetWindowLongPtrW(window, GWLP_USERDATA));
        HGDIOBJ old = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(60, 60, 60));
        for (size_t i = 0; i < std::size(kCells); ++i) {
            const RECT cell = CellRect(i);
            TextOutW(dc, cell.left + 10, cell.top + 5, kCells[i].label,
                     static_cast<int>(wcslen(kCells[i].label)));
        }
        SelectObject(dc, old);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A 16 x 16 picture: a green square with a white cross, its corners in the key colour.
HBITMAP MakePicture() {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all{0, 0, 16, 16}, square{2, 2, 14, 14};
    HBRUSH key = CreateSolidBrush(kBitmapKey), green = CreateSolidBrush(kBitmapColour);
    FillRect(dc, &all, key);
    FillRect(dc, &square, green);
    const RECT across{3, 7, 13, 9}, down{7, 3, 9, 13};
    FillRect(dc, &across, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FillRect(dc, &down, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DeleteObject(key);
    DeleteObject(green);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

// The colour that covers most of an icon drawn over the button face.
COLORREF MainColourOf(HICON icon, int size) {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    Canvas canvas(size, size, face);
    DrawIconEx(canvas.Dc(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    std::map<COLORREF, int> counts;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (canvas.At(x, y) != face) ++counts[canvas.At(x, y)];
    COLORREF main = CLR_INVALID;
    int most = 0;
    for (const auto& [colour, count] : counts)
        if (count > most) {
            most = count;
            main = colour;
        }
    return main;
}

class Gallery {
public:
    Gallery() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = GalleryProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kGalleryClass;
        RegisterClassW(&windowClass);
        m_font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                             NONANTIALIASED_QUALITY, 0, L"宋体");
        // Hidden until every control is set: the first paint shows every look at once.
        m_window = CreateWindowExW(WS_EX_TOPMOST, kGalleryClass, L"controls gallery", WS_POPUP, 20,
                                   20, kColumns * kCellWidth, kRows * kCellHeight, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_font));
        for (size_t i = 0; i < std::size(kCells); ++i) AddControl(i, kCells[i].look);
    }
    ~Gallery() {
        DestroyWindow(m_window);
        DeleteObject(m_font);
    }
    Gallery(const Gallery&) = delete;
    Gallery& operator=(const Gallery&) = delete;

    HWND Window() const { return m_window; }
    HWND Control(Look look) const { return m_controls.at(look); }
    ImageButton& Button(Look look) { return *m_buttons.at(look); }
    LinkLabel& Link(Look look) { return *m_links.at(look); }

    // Shows the window, then puts the states that need the pointer or the mouse in place.
    void Show() {
        ShowWindow(m_window, SW_SHOWNOACTIVATE);
        UpdateWindow(m_window);
        Pump();
        // The hover link holds no capture afterwards, so later moves cannot unlight it.
        SendMessageW(Control(Look::kLinkHover), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
        ReleaseCapture();
        // The pointer rests on the hot button: its leave tracking follows the real pointer.
        RECT hot;
        GetWindowRect(Control(Look::kHot), &hot);
        SetCursorPos(hot.left + 8, hot.top + 8);
        Pump();
        SendMessageW(Control(Look::kHot), WM_MOUSEMOVE, 0, MAKELPARAM(8, 8));
        Pump();
    }

    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

private:
    void AddControl(size_t index, Look look) {
        const RECT rect = ControlRect(index, look);
        const bool link = IsLink(look);
        const wchar_t* text = link ? L"访问首页" : L"开始更新";
        DWORD style = WS_CHILD | WS_VISIBLE | (link ? SS_LEFT : BS_PUSHBUTTON | WS_TABSTOP);
        if (look == Look::kChecked) style = WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX;
        HWND control = CreateWindowExW(0, link ? L"Static" : L"Button", text, style, rect.left,
                                       rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                       m_window, reinterpret_cast<HMENU>(100 + index),
                                       GetModuleHandleW(nullptr), nullptr);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
        m_controls[look] = control;
        if (link) {
            auto label = std::make_unique<LinkLabel>();
            label->Subclass(control);
            label->SetLinkTarget("http://127.0.0.1:9/");
            if (look == Look::kLinkVisited) label->MarkVisited(true);
            m_links[look] = std::move(label);
            return;
        }
        auto button = std::make_unique<ImageButton>();
        button->Subclass(control);
        switch (look) {
            case Look::kRaised:
                button->m_flat = false;
                break;
            case Look::kLayout1:
                button->m_iconLayout = ImageButton::ICON_ABOVE;
                break;
            case Look::kLayout2:
                button->m_iconLayout = ImageButton::ICON_RIGHT;
                break;
            case Look::kTransparent:
                button->m_transparent = true;
                break;
            default:
                break;
        }
        if (look == Look::kBitmap)
            button->SetBitmaps(MakePicture(), kBitmapKey);
        else
            button->LoadIcons(IDI_START, 0);
        if (look == Look::kPressed) SendMessageW(control, BM_SETSTATE, TRUE, 0);
        if (look == Look::kChecked) button->SetCheckState(1, true);
        if (look == Look::kDisabled) EnableWindow(control, FALSE);
        m_buttons[look] = std::move(button);
    }

    HWND m_window = nullptr;
    HFONT m_font = nullptr;
    std::map<Look, HWND> m_controls;
    std::map<Look, std::unique_ptr<ImageButton>> m_buttons;
    std::map<Look, std::unique_ptr<LinkLabel>> m_links;
};

// What the screen shows of a window, read back once.
class ScreenCopy {
public:
    explicit ScreenCopy(HWND window) : m_canvas(Width(window), Height(window)) {
        GetWindowRect(window, &m_place);
        HDC screen = GetDC(nullptr);
        BitBlt(m_canvas.Dc(), 0, 0, Width(window), Height(window), screen, m_place.left,
               m_place.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
    }
    // Pixels of colour within a control's window.
    int CountIn(HWND control, COLORREF colour) const {
        RECT rect;
        GetWindowRect(control, &rect);
        int count = 0;
        for (int y = rect.top; y < rect.bottom; ++y)
            for (int x = rect.left; x < rect.right; ++x)
                count += m_canvas.At(x - m_place.left, y - m_place.top) == colour;
        return count;
    }

private:
    static int Width(HWND window) {
        RECT rect;
        GetWindowRect(window, &rect);
        return rect.right - rect.left;
    }
    static int Height(HWND window) {
        RECT rect;
        GetWindowRect(window, &rect);
        return rect.bottom - rect.top;
    }
    RECT m_place{};
    Canvas m_canvas;
};

}  // namespace

TEST(Gallery, EveryLookOfTheButtonAndTheLinkInACellOfItsOwn) {
    Gallery gallery;
    gallery.Show();
    ASSERT_TRUE(gallery.Button(Look::kHot).IsHot());
    ASSERT_TRUE(gallery.Link(Look::kLinkHover).IsHovering());

    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF icon = MainColourOf(gallery.Button(Look::kFlat).Icon(0).handle, 24);
    ASSERT_NE(icon, CLR_INVALID);
    const LinkLabel& link = gallery.Link(Look::kLink);
    struct Expected {
        Look look;
        std::vector<COLORREF> present;
        std::vector<COLORREF> absent;
    };
    const Expected cells[] = {
        {Look::kFlat, {face, text, icon}, {}},
        {Look::kRaised, {face, text, icon, light, GetSysColor(COLOR_3DDKSHADOW)}, {}},
        {Look::kHot, {face, text, icon, light, shadow}, {}},
        {Look::kPressed, {face, text, icon, light, shadow}, {}},
        {Look::kDisabled, {face, light, shadow}, {text, icon}},
        {Look::kChecked, {face, text, icon, light, shadow}, {}},
        {Look::kLayout0, {face, text, icon}, {}},
        {Look::kLayout1, {face, text, icon}, {}},
        {Look::kLayout2, {face, text, icon}, {}},
        {Look::kBitmap, {face, text, kBitmapColour, RGB(255, 255, 255)}, {kBitmapKey}},
        {Look::kTransparent, {kStripeA, kStripeB, text, icon}, {}},
        {Look::kLink, {link.m_clrLink}, {link.m_clrVisited, link.m_clrHover}},
        {Look::kLinkVisited, {link.m_clrVisited}, {link.m_clrLink, link.m_clrHover}},
        {Look::kLinkHover, {link.m_clrHover}, {link.m_clrLink, link.m_clrVisited}},
    };
    // The screen is read once the painting has reached it.
    auto allThere = [&] {
        const ScreenCopy screen(gallery.Window());
        for (const Expected& cell : cells) {
            for (COLORREF colour : cell.present)
                if (screen.CountIn(gallery.Control(cell.look), colour) == 0) return false;
        }
        return true;
    };
    const DWORD start = GetTickCount();
    while (!allThere() && GetTickCount() - start < 5000) {
        Gallery::Pump();
        Sleep(50);
    }
    const ScreenCopy screen(gallery.Window());
    for (size_t i = 0; i < std::size(cells); ++i) {
        const Expected& cell = cells[i];
        SCOPED_TRACE(kCells[i].label);
        for (COLORREF colour : cell.present) {
            EXPECT_GT(screen.CountIn(gallery.Control(cell.look), colour), 0) << std::hex << colour;
        }
        for (COLORREF colour : cell.absent) {
            EXPECT_EQ(screen.CountIn(gallery.Control(cell.look), colour), 0) << std::hex << colour;
        }
    }

    CreateDirectoryW(L"screenshots", nullptr);
    const ShotInfo shot = SaveWindowShot(gallery.Window(), L"screenshots\\controls-gallery.bmp");
    EXPECT_FALSE(shot.covered);
    EXPECT_TRUE(shot.saved);
}
