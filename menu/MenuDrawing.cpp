// Drawing one owner-drawn item in the classic 3-D look or the flat XP look.
#include <algorithm>

#include "MenuGdi.h"
#include "MenuPlatform.h"
#include "MenuRegistry.h"
#include "SharedImages.h"
#include "VantuMenu.h"

namespace {
constexpr UINT kLabelFormat = DT_SINGLELINE | DT_VCENTER;                // 0x24
constexpr UINT kShortcutFormat = DT_SINGLELINE | DT_VCENTER | DT_RIGHT;  // 0x26

// The picture of an item: its own image, else its image in the shared list.
struct ItemImage {
    HIMAGELIST list = nullptr;
    int index = -1;
    bool triple = false;  // index + 1 is the faded, index + 2 the shadow image

    bool Exists() const { return list && index >= 0; }
    void Draw(HDC dc, int x, int y, int offset = 0) const {
        ImageList_Draw(list, index + offset, dc, x, y, ILD_TRANSPARENT);
    }
};

ItemImage ImageOf(const MenuItemRecord& record) {
    if (record.ownImageMarker >= 0 && record.ownImages)
        return {record.ownImages, record.ownImageIndex,
                ImageList_GetImageCount(record.ownImages) > 2};
    if (record.sharedImageIndex >= 0 && sharedimages::List())
        return {sharedimages::List(), record.sharedImageIndex,
                sharedimages::StartsTriple(record.sharedImageIndex)};
    return {};
}

struct ItemState {
    bool selected, disabled, checked;
};

ItemState StateOf(const DRAWITEMSTRUCT& item, bool mayHighlightDisabled) {
    ItemState state{(item.itemState & ODS_SELECTED) != 0, (item.itemState & ODS_GRAYED) != 0,
                    (item.itemState & ODS_CHECKED) != 0};
    if (state.disabled && !mayHighlightDisabled) state.selected = false;
    return state;
}

HBITMAP CheckedBitmapOf(const DRAWITEMSTRUCT& item) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_CHECKMARKS;
    if (!GetMenuItemInfoW(reinterpret_cast<HMENU>(item.hwndItem), item.itemID, FALSE, &info))
        return nullptr;
    return info.hbmpChecked;
}

RECT Moved(RECT rect, int dx, int dy) {
    OffsetRect(&rect, dx, dy);
    return rect;
}

// Label left, shortcut (after the last tab) right-aligned, transparent background.
void DrawItemText(HDC dc, RECT area, const std::wstring& text, int imageWidth, COLORREF colour) {
    const size_t lastTab = text.rfind(L'\t');
    std::wstring label = text.substr(0, text.find(L'\t'));
    std::wstring shortcut;
    if (lastTab != std::wstring::npos) {
        shortcut = text.substr(lastTab + 1);
        area.right -= imageWidth;
    }
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(dc, colour);
    DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &area, kLabelFormat);
    if (!shortcut.empty())
        DrawTextW(dc, shortcut.c_str(), static_cast<int>(shortcut.size()), &area, kShortcutFormat);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
}

bool IsPrinting(HDC dc) {
    return GetDeviceCaps(dc, TECHNOLOGY) == DT_RASPRINTER;
}
}  // namespace

void VantuMenu::DrawItem(DRAWITEMSTRUCT* item) {
    if (!item || !menuregistry::OwnerOfItemData(item->itemData)) return;
    const bool palette = (GetDeviceCaps(item->hDC, RASTERCAPS) & RC_PALETTE) != 0;
    if (palette || !MenuPlatform::Current().UsesXpLook()) {
        DrawItemClassic(item);
    } else {
        DrawItemXp(item);
    }
}

void VantuMenu::DrawItemClassic(DRAWITEMSTRUCT* item) {
    MenuPlatform& platform = MenuPlatform::Current();
    const auto& record = *reinterpret_cast<const MenuItemRecord*>(item->itemData);
    HDC dc = item->hDC;
    const RECT rect = item->rcItem;
    const int L = rect.left, T = rect.top, R = rect.right, H = rect.bottom - rect.top;
    const int IW = m_imageWidth, IH = m_imageHeight;
    const COLORREF face = GetSysColor(platform.IsXpThemed() ? COLOR_BTNFACE : COLOR_MENU);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const ItemState state = StateOf(*item, kClassicHighlightsDisabled);

    if (record.flags & MF_SEPARATOR) {
        FillSolid(dc, rect, face);
        RECT line = rect;
        line.top += H / 2;
        DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
        return;
    }

    const ItemImage image = ImageOf(record);
    const bool checkPicture =
        state.checked && !image.Exists() && m_checkImages &&
        ((state.selected && m_selectedCheckIndex > 0) || m_unselectedCheckIndex > 0);
    const bool picture = image.Exists() || checkPicture;
    COLORREF textColour = GetSysColor(COLOR_MENUTEXT);
    if (!state.selected) {
        FillSolid(dc, rect, face);
        Draw3dRect(dc, rect, face, face);
    } else {
        RECT fill = rect;
        if (picture || state.checked) fill.left = L + IW + 5;
        FillSolid(dc, fill, GetSysColor(COLOR_HIGHLIGHT));
        textColour = GetSysColor(COLOR_HIGHLIGHTTEXT);
    }

    const int f = std::max(0, (H - IH - 4) / 2);
    const RECT pictureBox{L + 1, T + f + 1, L + IW + 3, T + f + IH + 3};
    const RECT outerBox{L, T + f, L + IW + 4, T + f + IH + 4};
    const int x = L + 2, y = T + f + 2;
    if (picture) Draw3dRect(dc, pictureBox, face, face);
    if (checkPicture) {
        FillSolid(dc, pictureBox, face);
        Draw3dRect(dc, outerBox, face, face);
        ImageList_Draw(m_checkImages, state.selected ? 1 : 0, dc, x, y, ILD_TRANSPARENT);
    } else if (image.Exists() && state.disabled) {
        const GdiObject<HBITMAP> bitmap(ImageToBitmap(dc, image.list, image.index));
        Draw3dRect(dc, outerBox, face, face);
        if (bitmap) DrawDisabledImage(dc, x, y, bitmap, face);
    } else if (image.Exists() && state.selected) {
        FillSolid(dc, pictureBox, face);
        if (platform.HasNewShell())
            Draw3dRect(dc, outerBox, state.checked ? shadow : highlight,
                       state.checked ? highlight : shadow);
        image.Draw(dc, x, y);
    } else if (image.Exists()) {
        if (state.checked) {
            FillSolid(dc, pictureBox, LightenColor(face, 0.6));
            if (platform.HasNewShell()) Draw3dRect(dc, outerBox, shadow, highlight);
        } else {
            FillSolid(dc, pictureBox, face);
            Draw3dRect(dc, outerBox, face, face);
        }
        image.Draw(dc, x, y);
    }
    if (!image.Exists() && state.checked && !checkPicture)
        DrawCheckClassic(dc, RECT{L + 1, T + f + 2, L + IW + 1, T + f + IH + 2}, state.selected,
                         CheckedBitmapOf(*item));

    if (record.text.empty()) return;
    const RECT textArea{L + IW + 9, T - 1, R, rect.bottom - 1};
    if (!state.disabled) {
        DrawItemText(dc, textArea, record.text, IW, textColour);
    } else if (state.selected) {
        DrawItemText(dc, textArea, record.text, IW, face);
    } else {
        DrawItemText(dc, Moved(textArea, 1, 1), record.text, IW, highlight);
        DrawItemText(dc, textArea, record.text, IW, GetSysColor(COLOR_GRAYTEXT));
    }
}

void VantuMenu::DrawItemXp(DRAWITEMSTRUCT* item) {
    const bool offScreen =
        (item->itemState & ODS_GRAYED) && !kXpHighlightsDisabled && !IsPrinting(item->hDC);
    if (!offScreen) {
        PaintItemXp(item->hDC, *item);
        return;
    }
    // A disabled item is drawn whole off the screen and copied at once.
    const RECT& rect = item->rcItem;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const MemoryDc memory(item->hDC);
    const GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(item->hDC, width, height));
    const MenuFont font;
    {
        const Selected image(memory.Handle(), bitmap);
        const Selected useFont(memory.Handle(), font.Handle());
        POINT oldOrigin{};
        SetWindowOrgEx(memory.Handle(), rect.left, rect.top, &oldOrigin);
        PaintItemXp(memory.Handle(), *item);
        SetWindowOrgEx(memory.Handle(), oldOrigin.x, oldOrigin.y, nullptr);
        BitBlt(item->hDC, rect.left, rect.top, width, height, memory.Handle(), 0, 0, SRCCOPY);
    }
}

void VantuMenu::PaintItemXp(HDC dc, const DRAWITEMSTRUCT& item) {
    MenuPlatform& platform = MenuPlatform::Current();
    const bool themed = platform.IsXpThemed();
    const auto& record = *reinterpret_cast<const MenuItemRecord*>(item.itemData);
    const RECT rect = item.rcItem;
    const int L = rect.left, T = rect.top, R = rect.right, B = rect.bottom, H = B - T;
    const int IW = m_imageWidth, IH = m_imageHeight;
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    if (!themed) face = LightenColor(face, 0.25);
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF selection = LightenColor(highlight, themed ? 0.7 : 0.85);
    const int CW = IW + (kXpImagesWith3dEffect ? 7 : 4);
    const RECT column{L, T, L + CW, B};
    const ItemState state = StateOf(item, kXpHighlightsDisabled);

    if (record.flags & MF_SEPARATOR) {
        FillSolid(dc, rect, window);
        RECT line{column.right + (CW - IW), T + H / 2, R, B};
        DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
        FillSolid(dc, column, face);
        Draw3dRect(dc, column, face, face);
        return;
    }

    if (!state.selected) {
        FillSolid(dc, rect, window);
        FillSolid(dc, column, face);
        Draw3dRect(dc, rect, window, window);
        Draw3dRect(dc, column, face, face);
    } else {
        FillSolid(dc, rect, selection);
        Draw3dRect(dc, rect, highlight, highlight);
    }

    const ItemImage image = ImageOf(record);
    const bool checkPicture =
        state.checked && !image.Exists() && m_checkImages &&
        ((state.selected && m_selectedCheckIndex > 0) || m_unselectedCheckIndex > 0);
    const int x = L + std::max(0, static_cast<int>((CW - IW + 1) * 0.5));
    const int y = T + std::max(0, static_cast<int>((H - IH + 1) * 0.5));
    const RECT box{L + 1, T + 1, L + CW - 1, B - 1};
    if (checkPicture) {
        FillSolid(dc, box, face);
        ImageList_Draw(m_checkImages, state.selected ? 1 : 0, dc, x, y, ILD_TRANSPARENT);
    } else if (image.Exists() && state.disabled) {
        const GdiObject<HBITMAP> bitmap(ImageToBitmap(dc, image.list, image.index));
        if (bitmap) DrawDisabledImage(dc, x, y, bitmap, state.selected ? selection : face);
        if (state.selected) Draw3dRect(dc, rect, highlight, highlight);
    } else if (image.Exists() && state.selected) {
        FillSolid(dc, box, selection);
        if (state.checked) {
            Draw3dRect(dc, box, highlight, highlight);
            image.Draw(dc, x - 1, y - 1);
        } else if (image.triple) {
            image.Draw(dc, x + 1, y + 1, 2);
            image.Draw(dc, x - 1, y - 1);
        } else {
            image.Draw(dc, x, y);
        }
    } else if (image.Exists() && state.checked) {
        FillSolid(dc, box, LightenColor(highlight, 0.85));
        Draw3dRect(dc, box, highlight, highlight);
        image.Draw(dc, x - 1, y - 1);
    } else if (image.Exists()) {
        FillSolid(dc, box, face);
        Draw3dRect(dc, box, face, face);
        image.Draw(dc, x, y, image.triple ? 1 : 0);
    }
    if (!image.Exists() && !checkPicture && state.checked) {
        const int left = L + std::max(0, static_cast<int>((CW - 16 + 1) * 0.5));
        const int top = T + std::max(0, static_cast<int>((H - 16 + 1) * 0.5));
        DrawCheckXp(dc, RECT{left, top, left + 16, top + 16}, CheckedBitmapOf(item), highlight);
    }

    if (record.text.empty()) return;
    COLORREF textColour = GetSysColor(COLOR_MENUTEXT);
    if (state.disabled) {
        textColour = GetSysColor(COLOR_GRAYTEXT);
        if (!themed && !state.selected) textColour = LightenColor(textColour, 0.4);
    }
    DrawItemText(dc, RECT{L + CW + 8, T - 1, R, B - 1}, record.text, IW, textColour);
}
