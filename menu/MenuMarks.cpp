// The small pieces an item is drawn with: blended colours, ticks and dots, check boxes, and
// the embossed look of a disabled image.
#include "MenuGdi.h"
#include "MenuPlatform.h"
#include "VantuMenu.h"

namespace {
constexpr DWORD kPaintWhereSourceSet = 0xE20746;    // DSPDxax
constexpr DWORD kPaintWhereSourceClear = 0xB8074A;  // PSDPxax

BYTE Lighten(BYTE channel, double factor) {
    return static_cast<BYTE>(channel + factor * (255 - channel));
}

// Paints `pattern` brushes through a mask: first the highlight one pixel right and down, then
// the shadow at (x, y).
void Emboss(HDC dc, int x, int y, int width, int height, HDC mask, DWORD rop) {
    const GdiObject<HBRUSH> highlight(CreateSolidBrush(GetSysColor(COLOR_BTNHIGHLIGHT)));
    const GdiObject<HBRUSH> shadow(CreateSolidBrush(GetSysColor(COLOR_BTNSHADOW)));
    {
        const Selected brush(dc, highlight);
        BitBlt(dc, x + 1, y + 1, width, height, mask, 0, 0, rop);
    }
    const Selected brush(dc, shadow);
    BitBlt(dc, x, y, width, height, mask, 0, 0, rop);
}

// Keeps a DC's text and background colours for the time of a drawing.
class MonoColours {
public:
    MonoColours(HDC dc, COLORREF text, COLORREF background)
        : m_dc(dc), m_text(SetTextColor(dc, text)), m_background(SetBkColor(dc, background)) {}
    ~MonoColours() {
        SetTextColor(m_dc, m_text);
        SetBkColor(m_dc, m_background);
    }
    MonoColours(const MonoColours&) = delete;
    MonoColours& operator=(const MonoColours&) = delete;

private:
    HDC m_dc;
    COLORREF m_text, m_background;
};

// The check mark in a box: a dot for items with a checked-state bitmap, else a tick.
void DrawMark(HDC dc, const RECT& box, bool dot, int tickLeft) {
    const COLORREF mark = GetSysColor(COLOR_MENUTEXT);
    if (dot) {
        VantuMenu::DrawRadioDot(dc, box.left + 5, box.top + 4, mark);
    } else {
        VantuMenu::DrawTick(dc, box.left + tickLeft, box.top + 4, mark);
    }
}
}  // namespace

COLORREF VantuMenu::LightenColor(COLORREF colour, double factor) {
    if (!(factor > 0.0 && factor <= 1.0)) return colour;
    return RGB(Lighten(GetRValue(colour), factor), Lighten(GetGValue(colour), factor),
               Lighten(GetBValue(colour), factor));
}

HBITMAP VantuMenu::ImageToBitmap(HDC dc, HIMAGELIST list, int index) const {
    HICON icon = ImageList_GetIcon(list, index, ILD_NORMAL);
    if (!icon) return nullptr;
    HBITMAP bitmap = CreateCompatibleBitmap(dc, m_imageWidth, m_imageHeight);
    if (bitmap) {
        const MemoryDc memory(dc);
        const Selected selected(memory.Handle(), bitmap);
        const GdiObject<HBRUSH> face(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
        const RECT all{0, 0, m_imageWidth, m_imageHeight};
        FillRect(memory.Handle(), &all, face);
        DrawIconEx(memory.Handle(), 0, 0, icon, m_imageWidth, m_imageHeight, 0, face, DI_NORMAL);
    }
    DestroyIcon(icon);
    return bitmap;
}

void VantuMenu::DrawDisabledImage(HDC dc, int x, int y, HBITMAP image, COLORREF background) const {
    if (m_dibDisabledImages) {
        DrawDisabledImageDib(dc, x, y, image, background);
    } else {
        DrawDisabledImageMasked(dc, x, y, image, background);
    }
}

void VantuMenu::DrawDisabledImageMasked(HDC dc, int x, int y, HBITMAP image,
                                        COLORREF background) const {
    const int width = m_imageWidth, height = m_imageHeight;
    const MemoryDc colour(dc);
    const MemoryDc mask(dc);
    const GdiObject<HBITMAP> maskBitmap(CreateBitmap(width, height, 1, 1, nullptr));
    const Selected colourImage(colour.Handle(), image);
    const Selected maskImage(mask.Handle(), maskBitmap);
    // White where the image shows the face or the highlight colour: nothing is painted there.
    SetBkColor(colour.Handle(), GetSysColor(COLOR_BTNFACE));
    BitBlt(mask.Handle(), 0, 0, width, height, colour.Handle(), 0, 0, SRCCOPY);
    SetBkColor(colour.Handle(), GetSysColor(COLOR_BTNHIGHLIGHT));
    BitBlt(mask.Handle(), 0, 0, width, height, colour.Handle(), 0, 0, SRCPAINT);

    FillSolid(dc, RECT{x, y, x + width, y + height}, background);
    const MonoColours colours(dc, RGB(255, 255, 255), RGB(0, 0, 0));
    Emboss(dc, x, y, width, height, mask.Handle(), kPaintWhereSourceSet);
}

void VantuMenu::DrawDisabledImageDib(HDC dc, int x, int y, HBITMAP image,
                                     COLORREF background) const {
    const int width = m_imageWidth, height = m_imageHeight;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[2];
    } info{};
    info.header = {sizeof(BITMAPINFOHEADER), width, height, 1, 1, BI_RGB, 0, 0, 0, 2, 0};
    info.colours[1] = {255, 255, 255, 0};
    void* bits = nullptr;
    const GdiObject<HBITMAP> mono(CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(&info),
                                                   DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!mono) return;
    const MemoryDc colour(dc);
    const MemoryDc mask(dc);
    const Selected colourImage(colour.Handle(), image);
    const Selected maskImage(mask.Handle(), mono);
    SetBkColor(colour.Handle(), GetSysColor(COLOR_BTNFACE));
    BitBlt(mask.Handle(), 0, 0, width, height, colour.Handle(), 0, 0, SRCCOPY);

    const GdiObject<HBRUSH> fill(CreateSolidBrush(background));
    const RECT area{x, y, x + width, y + height};
    FillRect(dc, &area, fill);
    const MonoColours colours(dc, RGB(0, 0, 0), RGB(255, 255, 255));
    Emboss(dc, x, y, width, height, mask.Handle(), kPaintWhereSourceClear);
}

void VantuMenu::DrawCheckClassic(HDC dc, RECT box, bool selected, HBITMAP checkedBitmap) {
    MenuPlatform& platform = MenuPlatform::Current();
    COLORREF face = GetSysColor(platform.IsXpThemed() ? COLOR_BTNFACE : COLOR_MENU);
    if (!selected) face = LightenColor(face, 0.6);
    FillSolid(dc, box, face);
    if (platform.HasNewShell()) DrawEdge(dc, &box, BDR_SUNKENINNER, BF_RECT);
    DrawMark(dc, box, checkedBitmap != nullptr, 4);
}

void VantuMenu::DrawCheckXp(HDC dc, RECT box, HBITMAP checkedBitmap, COLORREF highlight) {
    FillSolid(dc, box, LightenColor(highlight, 0.85));
    Draw3dRect(dc, box, highlight, highlight);
    DrawMark(dc, box, checkedBitmap != nullptr, 5);
}

void VantuMenu::DrawRadioDot(HDC dc, int x, int y, COLORREF colour) {
    const GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, colour));
    const GdiObject<HBRUSH> brush(CreateSolidBrush(colour));
    const Selected usePen(dc, pen);
    const Selected useBrush(dc, brush);
    Ellipse(dc, x, y, x + 6, y + 6);
}

void VantuMenu::DrawTick(HDC dc, int x, int y, COLORREF colour) {
    static constexpr int kStrokeTop[7] = {2, 3, 4, 3, 2, 1, 0};
    const GdiObject<HPEN> pen(CreatePen(PS_SOLID, 1, colour));
    const Selected usePen(dc, pen);
    for (int k = 0; k < 7; ++k) {
        MoveToEx(dc, x + k, y + kStrokeTop[k], nullptr);
        LineTo(dc, x + k, y + kStrokeTop[k] + 3);
    }
}
