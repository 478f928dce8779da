// How an ImageButton paints itself. Every GDI object made here is deleted before the
// drawing returns.
#include "ImageButton.h"

#include "CodePage.h"
#include "GdiOwners.h"

namespace {
constexpr UINT kCaptionFormat = DT_WORDBREAK | DT_CENTER;
constexpr int kImageMargin = 3;

int Width(const RECT& rect) {
    return rect.right - rect.left;
}
int Height(const RECT& rect) {
    return rect.bottom - rect.top;
}

void FillSolid(HDC dc, int x, int y, int cx, int cy, COLORREF colour) {
    const RECT rect{x, y, x + cx, y + cy};
    const GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush);
}

// A frame of one pixel: top and left in one colour, right and bottom in the other.
void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
    const int x = rect.left, y = rect.top, cx = Width(rect), cy = Height(rect);
    FillSolid(dc, x, y, cx - 1, 1, topLeft);
    FillSolid(dc, x, y, 1, cy - 1, topLeft);
    FillSolid(dc, x + cx - 1, y, 1, cy, bottomRight);
    FillSolid(dc, x, y + cy - 1, cx, 1, bottomRight);
}

void Frame(HDC dc, const RECT& rect, COLORREF colour) {
    const GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
    FrameRect(dc, &rect, brush);
}

// One line of the classic 3-D edge, from `from` through `corner` to `to` (end excluded).
void EdgeLine(HDC dc, int colourIndex, POINT from, POINT corner, POINT to) {
    const GdiObject<HPEN> pen(CreatePen(PS_SOLID, 0, GetSysColor(colourIndex)));
    const Selected usePen(dc, pen);
    const POINT points[] = {from, corner, to};
    Polyline(dc, points, 3);
}
// Each pixel of the DC's first width x height its gray level; black stays black.
void MakePixelsGray(HDC dc, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const COLORREF pixel = GetPixel(dc, x, y);
            if (pixel == RGB(0, 0, 0)) continue;  // black stays black
            const auto level = static_cast<BYTE>(static_cast<int>(
                GetGValue(pixel) * 0.587 + GetBValue(pixel) * 0.114 + GetRValue(pixel) * 0.299));
            SetPixel(dc, x, y, RGB(level, level, level));
        }
}
}  // namespace

void ImageButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const UINT state = item.itemState;
    if (m_checkMode)
        m_pressed = (state & ODS_SELECTED) || m_checkValue != 0;
    else
        m_pressed = (state & ODS_SELECTED) || (m_menu.m_hMenu && m_menuShown);
    m_focused = (state & ODS_FOCUS) != 0;
    m_disabled = (state & ODS_DISABLED) != 0;

    RECT work = item.rcItem;
    SetBkMode(dc, TRANSPARENT);
    if (!m_flat && (m_focused || m_isDefault)) {
        Frame(dc, work, RGB(0, 0, 0));
        InflateRect(&work, -1, -1);
    }
    if (m_transparent)
        PaintParentBackground(dc);
    else
        DrawFace(dc, work);
    DrawEdges(dc, work);

    const std::wstring caption = ToWide(GetWindowText());
    RECT captionRect = item.rcItem;
    if (m_icons[0].handle)
        DrawIconImage(dc, !caption.empty(), item.rcItem, captionRect, m_pressed, m_disabled);
    if (m_bitmaps[0].image) {
        SetBkColor(dc, RGB(255, 255, 255));
        DrawBitmapImage(dc, !caption.empty(), item.rcItem, captionRect, m_pressed, m_disabled);
    }
    if (!caption.empty()) DrawCaption(dc, caption, captionRect);

    if ((!m_flat || m_focusWhenFlat) && m_focused) {
        RECT focus = work;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}

void ImageButton::DrawFace(HDC dc, const RECT& rect) {
    const ColorSlot slot = m_hot || m_pressed ? COLOR_HOT_BG
                           : m_focused        ? COLOR_FOCUS_BG
                                              : COLOR_REST_BG;
    FillSolid(dc, rect.left, rect.top, Width(rect), Height(rect), m_colors[slot]);
}

void ImageButton::DrawHotBorder(HDC dc, const RECT& rect) {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    if (m_pressed)
        Draw3dRect(dc, rect, shadow, highlight);  // sunken
    else
        Draw3dRect(dc, rect, highlight, shadow);  // raised
}

void ImageButton::DrawEdges(HDC dc, const RECT& rect) {
    if (m_flat) {
        if (m_drawHotBorder && (m_pressed || m_hot)) DrawHotBorder(dc, rect);
        return;
    }
    if (m_pressed) {
        Frame(dc, rect, GetSysColor(COLOR_BTNSHADOW));
        return;
    }
    const LONG l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    EdgeLine(dc, COLOR_BTNHIGHLIGHT, {l, b - 1}, {l, t}, {r, t});
    EdgeLine(dc, COLOR_3DLIGHT, {l + 1, b - 1}, {l + 1, t + 1}, {r, t + 1});
    EdgeLine(dc, COLOR_3DDKSHADOW, {l, b - 1}, {r - 1, b - 1}, {r - 1, t - 1});
    EdgeLine(dc, COLOR_BTNSHADOW, {l + 1, b - 2}, {r - 2, b - 2}, {r - 2, t});
}

void ImageButton::DrawCaption(HDC dc, const std::wstring& caption, RECT rect) const {
    if (m_pressed && !m_checkMode) OffsetRect(&rect, 1, 1);
    const RECT available = rect;
    DrawTextW(dc, caption.c_str(), -1, &rect, kCaptionFormat | DT_CALCRECT);
    OffsetRect(&rect, (Width(available) - Width(rect)) / 2, (Height(available) - Height(rect)) / 2);
    SetBkMode(dc, TRANSPARENT);
    if (m_disabled) {
        // Embossed: the highlight one pixel right and down, the shadow on top of it.
        OffsetRect(&rect, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextW(dc, caption.c_str(), -1, &rect, kCaptionFormat);
        OffsetRect(&rect, -1, -1);
        SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
        DrawTextW(dc, caption.c_str(), -1, &rect, kCaptionFormat);
        return;
    }
    const bool lit = m_hot || m_pressed;
    SetTextColor(dc, m_colors[lit ? COLOR_HOT_TEXT : COLOR_REST_TEXT]);
    SetBkColor(dc, m_colors[lit ? COLOR_HOT_BG : COLOR_REST_BG]);
    DrawTextW(dc, caption.c_str(), -1, &rect, kCaptionFormat);
}

void ImageButton::PlaceImage(bool hasCaption, const RECT& item, RECT& caption, bool pressed,
                             DWORD width, DWORD height, RECT& image) const {
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    image = item;
    switch (m_iconLayout) {
        case ICON_LEFT:
            if (hasCaption) {
                image.left += kImageMargin;
                caption.left += w + kImageMargin;
            } else {
                image.left += (Width(image) - w) / 2;
            }
            image.top += (Height(image) - h) / 2;
            break;
        case ICON_ABOVE:
            image.left += (Width(image) - w) / 2;
            if (hasCaption) {
                image.top = kImageMargin;
                caption.top += h;
            } else {
                image.top += (Height(image) - h) / 2;
            }
            break;
        case ICON_RIGHT: {
            RECT client;
            GetClientRect(m_hWnd, &client);
            if (hasCaption) {
                caption.right = Width(caption) - w - kImageMargin;
                caption.left = kImageMargin;
                image.left = client.right - w - kImageMargin;
                image.top += (Height(image) - h) / 2;
            } else {
                image.left += (Width(image) - w) / 2;
            }
            break;
        }
    }
    if (pressed && !m_checkMode) OffsetRect(&image, 1, 1);
}

size_t ImageButton::ImageSlotToDraw(bool pressed, bool restHasImage) const {
    const bool lit = m_checkMode ? pressed : (pressed || m_hot);
    return lit || !restHasImage ? 0 : 1;
}

void ImageButton::DrawIconImage(HDC dc, bool hasCaption, const RECT& item, RECT& caption,
                                bool pressed, bool disabled) const {
    const ImageSlot& slot = m_icons[ImageSlotToDraw(pressed, m_icons[1].handle != nullptr)];
    RECT image;
    PlaceImage(hasCaption, item, caption, pressed, slot.width, slot.height, image);
    DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(slot.handle), 0, image.left,
               image.top, Width(image), Height(image),
               DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
}

HICON ImageButton::MakeGrayIcon(HICON icon) const {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return nullptr;
    const WindowDc window(m_hWnd);
    HDC source = window.Handle() ? CreateCompatibleDC(window.Handle()) : nullptr;
    HDC target = window.Handle() ? CreateCompatibleDC(window.Handle()) : nullptr;
    HICON gray = nullptr;
    {
        // The icon's own bitmaps go before the DCs that drew with them.
        const GdiObject<HBITMAP> mask(info.hbmMask);
        const GdiObject<HBITMAP> colourBitmap(info.hbmColor);
        BITMAP colour{};
        if (source && target && colourBitmap && GetObjectW(colourBitmap, sizeof(colour), &colour)) {
            const int width = static_cast<int>(2 * info.xHotspot);
            const int height = static_cast<int>(2 * info.yHotspot);
            const GdiObject<HBITMAP> grayBitmap(
                CreateBitmap(width, height, colour.bmPlanes, colour.bmBitsPixel, nullptr));
            if (grayBitmap) {
                {
                    const Selected useSource(source, colourBitmap);
                    const Selected useTarget(target, grayBitmap);
                    BitBlt(target, 0, 0, width, height, source, 0, 0, SRCCOPY);
                    MakePixelsGray(target, width, height);
                }
                ICONINFO grayInfo{TRUE, info.xHotspot, info.yHotspot, mask, grayBitmap};
                gray = CreateIconIndirect(&grayInfo);
            }
        }
    }
    if (source) DeleteDC(source);
    if (target) DeleteDC(target);
    return gray;
}

void ImageButton::DrawBitmapImage(HDC dc, bool hasCaption, const RECT& item, RECT& caption,
                                  bool pressed, bool disabled) const {
    const BitmapSlot& slot = m_bitmaps[ImageSlotToDraw(pressed, m_bitmaps[1].image != nullptr)];
    RECT image;
    PlaceImage(hasCaption, item, caption, pressed, slot.width, slot.height, image);
    const int w = static_cast<int>(slot.width), h = static_cast<int>(slot.height);
    HDC imageDc = CreateCompatibleDC(dc);
    HDC maskDc = CreateCompatibleDC(dc);
    {
        const Selected useImage(imageDc, slot.image);
        const Selected useMask(maskDc, slot.mask);
        if (disabled && m_grayBitmapWhenDisabled) {
            // The image over white, then embossed by the system's disabled look.
            HDC grayDc = CreateCompatibleDC(dc);
            const GdiObject<HBITMAP> gray(CreateCompatibleBitmap(dc, w, h));
            {
                const Selected useGray(grayDc, gray);
                FillSolid(grayDc, 0, 0, w, h, RGB(255, 255, 255));
                const COLORREF oldBack = SetBkColor(grayDc, RGB(255, 255, 255));
                BitBlt(grayDc, 0, 0, w, h, maskDc, 0, 0, SRCAND);
                BitBlt(grayDc, 0, 0, w, h, imageDc, 0, 0, SRCPAINT);
                SetBkColor(grayDc, oldBack);
            }
            DeleteDC(grayDc);
            DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(gray.Get()), 0, image.left,
                       image.top, w, h, DST_BITMAP | DSS_DISABLED);
        } else {
            // The mask's white keeps the target (background white), its black clears it (text
            // black) for the image to be ORed in.
            const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
            BitBlt(dc, image.left, image.top, w, h, maskDc, 0, 0, SRCAND);
            BitBlt(dc, image.left, image.top, w, h, imageDc, 0, 0, SRCPAINT);
            SetTextColor(dc, oldText);
        }
    }
    DeleteDC(imageDc);
    DeleteDC(maskDc);
}

// The parent's pixels behind the button, captured once (at the first paint) and reused.
void ImageButton::PaintParentBackground(HDC dc) {
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int width = Width(client), height = Height(client);
    if (!m_bgDC) {
        HWND parent = GetParent(m_hWnd);
        RECT place;
        GetWindowRect(m_hWnd, &place);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
        const WindowDc parentDc(parent);
        m_bgDC = CreateCompatibleDC(parentDc.Handle());
        m_bgBitmap = CreateCompatibleBitmap(parentDc.Handle(), width, height);
        if (m_bgDC && m_bgBitmap) {
            m_pOldBgBitmap = SelectObject(m_bgDC, m_bgBitmap);
            BitBlt(m_bgDC, 0, 0, width, height, parentDc.Handle(), place.left, place.top, SRCCOPY);
        }
    }
    if (m_bgDC && m_bgBitmap) BitBlt(dc, 0, 0, width, height, m_bgDC, 0, 0, SRCCOPY);
}
