#include "ImageButton.h"

#include <shellapi.h>

#include <cstring>
#include <utility>

#include "CodePage.h"
#include "GdiOwners.h"
#include "MenuItemRouting.h"

namespace {
constexpr UINT kTypeMask = 0x1F;  // the BS_ type bits of a button's style
// BS_CHECKBOX's bit, set in every check-box type and, as it happens, in BS_OWNERDRAW (and
// BS_GROUPBOX, BS_PUSHBOX): a window with it starts as a check button.
constexpr DWORD kCheckBoxBit = BS_CHECKBOX;
// The bit above BS_TYPEMASK, which the SDK leaves unnamed (kTypeMask counts it in the type).
constexpr WPARAM kUnnamedTypeBit = 0x10;
// Cleared from the style of BM_SETSTYLE before BS_OWNERDRAW goes in.
constexpr WPARAM kClearedOnSetStyle = BS_RADIOBUTTON | kUnnamedTypeBit;
// A rest icon id of LoadIcons: a gray copy of the hot icon (GRAY_ICON).
constexpr int kGrayRestIconId = -2;
constexpr UINT kMenuFlags = TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_RETURNCMD;
constexpr int kMaxTipWidth = 400;

bool OnThreadOf(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

HICON LoadProgramIcon(int id) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                         IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
}

// A bitmap's size; false when it is no bitmap.
bool MeasureBitmap(HBITMAP bitmap, DWORD& width, DWORD& height) {
    BITMAP info{};
    if (!bitmap || GetObjectW(bitmap, sizeof(info), &info) != sizeof(info)) return false;
    width = static_cast<DWORD>(info.bmWidth);
    height = static_cast<DWORD>(info.bmHeight);
    return true;
}

// White where the image has the transparent colour; those pixels of the image become black,
// so that the image can be painted over what the mask leaves (SRCAND, then SRCPAINT).
HBITMAP MakeMaskAndClear(HBITMAP image, int width, int height, COLORREF transparent) {
    GdiObject<HBITMAP> mask(CreateBitmap(width, height, 1, 1, nullptr));
    HDC imageDc = CreateCompatibleDC(nullptr);
    HDC maskDc = CreateCompatibleDC(nullptr);
    const bool made = mask && imageDc && maskDc;
    if (made) {
        const Selected useImage(imageDc, image);
        const Selected useMask(maskDc, mask);
        SetBkColor(imageDc, transparent);
        BitBlt(maskDc, 0, 0, width, height, imageDc, 0, 0, SRCCOPY);
        // From a monochrome source white pixels take the background colour, black ones the
        // text colour: black where transparent, white elsewhere, then ANDed into the image.
        SetBkColor(imageDc, RGB(0, 0, 0));
        SetTextColor(imageDc, RGB(255, 255, 255));
        BitBlt(imageDc, 0, 0, width, height, maskDc, 0, 0, SRCAND);
    }
    if (imageDc) DeleteDC(imageDc);
    if (maskDc) DeleteDC(maskDc);
    return made ? mask.Release() : nullptr;
}

// The icon's size, read from its hotspot (an icon's centre); false when it is no icon.
bool MeasureIcon(HICON icon, DWORD& width, DWORD& height) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return false;
    const GdiObject<HBITMAP> colour(info.hbmColor);
    const GdiObject<HBITMAP> mask(info.hbmMask);
    width = 2 * info.xHotspot;
    height = 2 * info.yHotspot;
    return true;
}
}  // namespace

ImageButton::ImageButton() {
    RestoreDefaultColors(false);
    SetClickUrl(nullptr);
}

ImageButton::~ImageButton() {
    if (m_bgDC && m_pOldBgBitmap) SelectObject(m_bgDC, m_pOldBgBitmap);
    ReleaseImages(true);
    if (m_hCursor) DestroyCursor(m_hCursor);
    if (m_menu.m_hMenu) m_menu.DestroyMenu();
    if (m_bgBitmap) DeleteObject(m_bgBitmap);
    if (m_bgDC) DeleteDC(m_bgDC);
    if (m_toolTip && ::IsWindow(m_toolTip) && OnThreadOf(m_toolTip)) DestroyWindow(m_toolTip);
}

// Takes the window over from the template: check mode and default from its type, then
// owner-drawn for good.
void ImageButton::EnsurePrepared() {
    if (m_prepared || !IsWindow()) return;
    m_prepared = true;
    const auto style = static_cast<DWORD>(GetWindowLongW(m_hWnd, GWL_STYLE));
    if (style & kCheckBoxBit) m_checkMode = true;
    if ((style & kTypeMask) == BS_DEFPUSHBUTTON) m_isDefault = true;
    SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>((style & ~kTypeMask) | BS_OWNERDRAW));
    SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ImageButton::LoadIcons(int hotIconId, int restIconId) {
    EnsurePrepared();
    HICON hot = LoadProgramIcon(hotIconId);
    HICON rest = restIconId == 0                 ? nullptr
                 : restIconId == kGrayRestIconId ? GRAY_ICON
                                                 : LoadProgramIcon(restIconId);
    SetIconHandles(hot, rest);
}

DWORD ImageButton::SetIconHandles(HICON hot, HICON rest) {
    ReleaseImages(true);
    if (hot) {
        ImageSlot& slot = m_icons[0];
        slot.handle = hot;
        if (!MeasureIcon(hot, slot.width, slot.height)) {
            ReleaseImages(true);
            return 1;
        }
        if (rest == GRAY_ICON) rest = MakeGrayIcon(hot);
        if (rest) {
            ImageSlot& restSlot = m_icons[1];
            restSlot.handle = rest;
            if (!MeasureIcon(rest, restSlot.width, restSlot.height)) {
                ReleaseImages(true);
                return 1;
            }
        }
    }
    Invalidate();
    return 0;
}

DWORD ImageButton::SetBitmaps(HBITMAP hot, COLORREF hotTransparent, HBITMAP rest,
                              COLORREF restTransparent) {
    ReleaseImages(true);
    const std::pair<HBITMAP, COLORREF> given[] = {{hot, hotTransparent}, {rest, restTransparent}};
    for (size_t index = 0; hot && index < m_bitmaps.size(); ++index) {
        if (!given[index].first) continue;
        BitmapSlot& slot = m_bitmaps[index];
        slot.image = given[index].first;
        slot.transparent = given[index].second;
        if (!MeasureBitmap(slot.image, slot.width, slot.height)) {
            ReleaseImages(true);
            return 1;
        }
        slot.mask = MakeMaskAndClear(slot.image, static_cast<int>(slot.width),
                                     static_cast<int>(slot.height), slot.transparent);
        if (!slot.mask) {
            ReleaseImages(true);
            return 1;
        }
    }
    Invalidate();
    return 0;
}

void ImageButton::ReleaseImages(bool destroy) {
    for (ImageSlot& slot : m_icons) {
        if (destroy && slot.handle && slot.handle != GRAY_ICON) DestroyIcon(slot.handle);
        slot = {};
    }
    for (BitmapSlot& slot : m_bitmaps) {
        if (destroy && slot.image) DeleteObject(slot.image);
        if (destroy && slot.mask) DeleteObject(slot.mask);
        slot = {};
    }
}

DWORD ImageButton::SetCheckState(int check, bool repaint) {
    if (!m_checkMode) return 0;
    m_checkValue = check != 0 ? 1 : 0;
    if (repaint) Invalidate();
    return 0;
}

DWORD ImageButton::RestoreDefaultColors(bool repaint) {
    for (size_t slot = 0; slot < m_colors.size(); ++slot)
        m_colors[slot] = GetSysColor(slot % 2 == 0 ? COLOR_BTNFACE : COLOR_BTNTEXT);
    if (repaint) Invalidate();
    return 0;
}

DWORD ImageButton::SetClickUrl(const char* url) {
    m_url.fill('\0');
    if (!url) return 0;
    size_t length = 0;
    for (size_t size = std::strlen(url); length < size;) {
        const size_t step = IsGbkLeadByte(static_cast<unsigned char>(url[length])) ? 2 : 1;
        if (length + step > m_url.size() - 1) break;  // the terminating zero keeps its byte
        length += step;
    }
    std::memcpy(m_url.data(), url, length);
    return 0;
}

void ImageButton::Invalidate() const {
    if (IsWindow()) InvalidateRect(m_hWnd, nullptr, TRUE);
}

// Made when first needed, silent until a text is set.
void ImageButton::EnsureToolTip() {
    if (m_toolTip || !IsWindow()) return;
    m_toolTip =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!m_toolTip) return;
    ::SendMessageW(m_toolTip, TTM_ACTIVATE, FALSE, 0);
    ::SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, kMaxTipWidth);
}

void ImageButton::SetTooltipText(const GbkString& text) {
    EnsurePrepared();
    EnsureToolTip();
    if (!m_toolTip) return;
    const std::wstring wide = ToWide(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND;  // the whole button, wherever it is moved
    tool.hwnd = m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    tool.lpszText = const_cast<wchar_t*>(wide.c_str());
    if (::SendMessageW(m_toolTip, TTM_GETTOOLCOUNT, 0, 0) == 0)
        ::SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    else
        ::SendMessageW(m_toolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(m_toolTip, TTM_ACTIVATE, TRUE, 0);
}

// The dialog runs the system's modal loop, which hands the tip nothing: the button passes
// its own mouse messages on.
void ImageButton::RelayToToolTip(UINT message, WPARAM wParam, LPARAM lParam) {
    EnsureToolTip();
    if (!m_toolTip) return;
    const DWORD position = GetMessagePos();
    MSG relayed{m_hWnd,
                message,
                wParam,
                lParam,
                static_cast<DWORD>(GetMessageTime()),
                {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))}};
    ::SendMessageW(m_toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

// The next paint captures the parent's background again.
void ImageButton::DropBackground() {
    if (m_bgDC) DeleteDC(m_bgDC);
    if (m_bgBitmap) DeleteObject(m_bgBitmap);
    m_bgDC = nullptr;
    m_bgBitmap = nullptr;
    m_pOldBgBitmap = nullptr;
}

bool ImageButton::OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    EnsurePrepared();
    switch (message) {
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            result = TRUE;
            return true;
        case WM_CTLCOLORBTN:
            result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            return true;
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) OnClicked();
            return false;  // the parent hears of the click as well
        default:
            return false;
    }
}

LRESULT ImageButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    EnsurePrepared();
    if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST)
        RelayToToolTip(message, wParam, lParam);
    switch (message) {
        case WM_SETCURSOR:
            if (!m_hCursor) break;
            SetCursor(m_hCursor);
            return TRUE;
        case WM_KILLFOCUS: {
            const LRESULT result = Default(message, wParam, lParam);
            CancelHover();
            return result;
        }
        case WM_MOUSEMOVE: {
            const LRESULT result = Default(message, wParam, lParam);
            OnMouseMove(wParam, lParam);
            return result;
        }
        case WM_SYSCOLORCHANGE: {
            const LRESULT result = Default(message, wParam, lParam);
            DropBackground();
            return result;
        }
        case WM_ACTIVATE: {
            const LRESULT result = Default(message, wParam, lParam);
            if (LOWORD(wParam) == WA_INACTIVE) CancelHover();
            return result;
        }
        case WM_ENABLE: {
            const LRESULT result = Default(message, wParam, lParam);
            if (!wParam) {
                PassFocusOn();
                CancelHover();
            }
            return result;
        }
        case WM_CANCELMODE: {
            const LRESULT result = Default(message, wParam, lParam);
            CancelHover();
            return result;
        }
        case WM_GETDLGCODE:
            return Default(message, wParam, lParam) |
                   (m_isDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
        case WM_MENUCHAR: {
            VantuMenu* menu = VantuMenu::FromHandle(reinterpret_cast<HMENU>(lParam));
            if (!VantuMenu::IsVantuMenu(menu)) break;
            return VantuMenu::HandleMenuChar(LOWORD(wParam), HIWORD(wParam), menu);
        }
        case WM_MEASUREITEM: {
            if (OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam))) return TRUE;
            // The items of the popup menu, which the button owns while it is shown.
            LRESULT result = 0;
            if (RouteMenuItem(message, lParam, result)) return result;
            break;
        }
        case WM_DRAWITEM: {
            LRESULT result = 0;
            if (RouteMenuItem(message, lParam, result)) return result;
            break;
        }
        case BM_SETSTYLE:
            return OnSetStyle(wParam, lParam);
        case WM_MOUSELEAVE:
            CancelHover();
            return 0;
        case BM_SETCHECK:
            SetCheckState(wParam == BST_CHECKED || wParam == BST_INDETERMINATE ? 1 : 0, true);
            return 0;
        case BM_GETCHECK:
            return GetCheckState();
        case WM_LBUTTONDBLCLK:
            // A double click presses the button a second time, so it gives a second click.
            return Default(WM_LBUTTONDOWN, wParam, lParam);
        default:
            break;
    }
    return Default(message, wParam, lParam);
}

void ImageButton::OnMouseMove(WPARAM flags, LPARAM point) {
    POINT screen{static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    ClientToScreen(m_hWnd, &screen);
    HWND under = WindowFromPoint(screen);
    if ((flags & MK_LBUTTON) && !m_hot) return;
    if (!m_flat) return;
    HWND tracking = m_trackAlways ? m_hWnd : GetActiveWindow();
    if (under != m_hWnd || !tracking) {
        CancelHover();
        return;
    }
    if (m_hot) return;
    m_hot = true;
    Invalidate();
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, m_hWnd, 0};
    TrackMouseEvent(&track);
}

void ImageButton::CancelHover() {
    if (!m_flat || !m_hot) return;
    m_hot = false;
    Invalidate();
}

// A disabled button keeps no focus: the next tab stop takes it, or the parent.
void ImageButton::PassFocusOn() {
    HWND parent = GetParent(m_hWnd);
    HWND next = GetNextDlgTabItem(parent, m_hWnd, FALSE);
    SetFocus(next && next != m_hWnd ? next : parent);
}

LRESULT ImageButton::OnSetStyle(WPARAM style, LPARAM redraw) {
    const UINT type = style & kTypeMask;
    if (type == BS_DEFPUSHBUTTON) m_isDefault = true;
    if (type == BS_PUSHBUTTON) m_isDefault = false;
    return Default(BM_SETSTYLE, (style & ~kClearedOnSetStyle) | BS_OWNERDRAW, redraw);
}

bool ImageButton::OnMeasureItem(MEASUREITEMSTRUCT* item) {
    if (item->CtlType != ODT_MENU) return false;
    auto menu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item->itemID));
    if (!IsMenu(menu) || !VantuMenu::IsVantuMenuHandle(menu)) return false;
    m_menu.MeasureItem(item);
    return true;
}

void ImageButton::OnClicked() {
    SetFocus(m_hWnd);
    if (m_checkMode) {
        m_checkValue = m_checkValue == 0 ? 1 : 0;
        Invalidate();
        return;
    }
    if (m_menu.m_hMenu) {
        RECT rect;
        GetWindowRect(m_hWnd, &rect);
        m_menuShown = true;
        Invalidate();
        const VantuMenu* popup = m_menu.GetPopup(0);
        HMENU shown = popup ? popup->m_hMenu : GetSubMenu(m_menu.m_hMenu, 0);
        const BOOL chosen =
            TrackPopupMenu(shown, kMenuFlags, rect.left, rect.bottom, 0, m_hWnd, nullptr);
        m_menuShown = false;
        Invalidate();
        if (chosen) PostMessageW(m_hMenuOwner, WM_COMMAND, LOWORD(chosen), 0);
        return;
    }
    if (m_url[0]) {
        const std::wstring url = ToWide(std::string_view(m_url.data()));
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"open";
        info.lpFile = url.c_str();
        info.nShow = SW_SHOWMAXIMIZED;
        ShellExecuteExW(&info);
    }
}
