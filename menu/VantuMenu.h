// A menu whose popup items draw themselves: small images, check marks and a right-aligned
// shortcut column, in the classic 3-D look or the flat XP look. It is loaded from an ordinary
// menu resource or filled with AppendItem; the bar level stays drawn by the system.
//
// Every item has a record, whose address is the item's data, so draw and measure requests
// lead back to it (framework/MenuItemRouting). Popups appended to any such menu are kept in a
// process-wide registry, so that a window can tell whether a menu handle is one of ours.
// User-interface thread only.
#pragma once

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "GbkString.h"

struct MenuItemRecord {
    MenuItemRecord() = default;
    ~MenuItemRecord();
    MenuItemRecord(const MenuItemRecord&) = delete;
    MenuItemRecord& operator=(const MenuItemRecord&) = delete;

    std::wstring text;               // label, and after a tab the shortcut
    int ownImageIndex = -1;          // in ownImages
    int sharedImageIndex = -1;       // in the process-wide image list
    int ownImageMarker = -1;         // >= 0 when the item has an image of its own
    UINT flags = 0;                  // MF_ flags the item was appended or modified with
    UINT_PTR id = 0;                 // command id, or the submenu's handle
    bool syncMark = false;           // matched while ResyncItems runs
    HIMAGELIST ownImages = nullptr;  // owned
};

class VantuMenu {
public:
    VantuMenu();
    virtual ~VantuMenu();
    VantuMenu(const VantuMenu&) = delete;
    VantuMenu& operator=(const VantuMenu&) = delete;

    HMENU m_hMenu = nullptr;
    HMENU GetSafeHmenu() const { return m_hMenu; }

    // An empty popup menu of this object's own, to be filled with AppendItem.
    BOOL CreatePopupMenu();

    virtual void DrawItem(DRAWITEMSTRUCT* item);
    virtual void MeasureItem(MEASUREITEMSTRUCT* item);
    virtual BOOL LoadMenu(UINT id);
    virtual BOOL LoadMenu(const wchar_t* name);
    // Unregisters and frees the items, the submenus made by loading and the menu handle.
    virtual BOOL DestroyMenu();

    // Appends an owner-drawn item (a separator when id is 0; a popup with MF_POPUP, id then
    // being the submenu's handle). imageId < 0 takes the command's image from the shared
    // list when it has one; imageId > 0 is a toolbar resource holding the command's image.
    BOOL AppendItem(const wchar_t* text, UINT flags, UINT_PTR id, int imageId = -1);
    BOOL AppendItem(const GbkString& text, UINT flags, UINT_PTR id, int imageId = -1);
    // Adds image `index` of `list` to the shared list under `commandId`; its index, or -1.
    int AddSharedImage(HIMAGELIST list, int index, UINT commandId);
    // Adds a bitmap resource (or, with m_iconImages, an icon handle) to `list`.
    bool AddImage(HIMAGELIST list, UINT_PTR image);
    void RestoreBarPopups();
    // Pads each label so that the shortcuts after the tabs start at one column.
    void AlignShortcutColumn();
    // Matches the records to the items again after items were added behind our back.
    void ResyncItems();
    // The object of the submenu at `position`, or null when that submenu is none of ours.
    VantuMenu* GetPopup(int position) const;

    const std::vector<std::unique_ptr<MenuItemRecord>>& Items() const { return m_items; }
    const std::vector<HMENU>& Popups() const { return m_popups; }

    // For WM_MENUCHAR: position of the first item with "&" + ch in its text, with
    // MNC_EXECUTE; 0 unless menu is given and flags have MF_POPUP.
    static LRESULT HandleMenuChar(UINT ch, UINT flags, VantuMenu* menu);
    static BOOL IsVantuMenu(const VantuMenu* menu);
    static BOOL IsVantuMenuHandle(HMENU menu);
    static VantuMenu* FromHandle(HMENU menu);
    // Position of a command id in the shared image table, -1 when absent.
    static int GlobalImageIndex(UINT commandId);

    // Drawing pieces.
    void DrawItemClassic(DRAWITEMSTRUCT* item);
    void DrawItemXp(DRAWITEMSTRUCT* item);
    static COLORREF LightenColor(COLORREF colour, double factor);
    // The image drawn over the button face on a new bitmap of the image size (caller deletes).
    HBITMAP ImageToBitmap(HDC dc, HIMAGELIST list, int index) const;
    // Embossed look of a disabled image: highlight one pixel right and down, shadow on top.
    void DrawDisabledImage(HDC dc, int x, int y, HBITMAP image, COLORREF background) const;
    void DrawDisabledImageMasked(HDC dc, int x, int y, HBITMAP image, COLORREF background) const;
    void DrawDisabledImageDib(HDC dc, int x, int y, HBITMAP image, COLORREF background) const;
    static void DrawCheckClassic(HDC dc, RECT box, bool selected, HBITMAP checkedBitmap);
    static void DrawCheckXp(HDC dc, RECT box, HBITMAP checkedBitmap, COLORREF highlight);
    static void DrawRadioDot(HDC dc, int x, int y, COLORREF colour);
    static void DrawTick(HDC dc, int x, int y, COLORREF colour);

    // Settings, all with their defaults.
    int m_imageWidth = 16;
    int m_imageHeight = 15;
    COLORREF m_bitmapBackground = RGB(192, 192, 192);
    bool m_useBitmapBackground = false;  // else the button face is the mask colour
    bool m_dibDisabledImages = false;
    HIMAGELIST m_checkImages = nullptr;  // owned unless m_checkImagesShared
    bool m_checkImagesShared = false;
    int m_selectedCheckIndex = -1;    // used when > 0
    int m_unselectedCheckIndex = -1;  // used when > 0
    bool m_iconImages = false;        // image arguments are icon handles
    bool m_loaded = false;

private:
    void Attach(HMENU menu);
    MenuItemRecord* NewRecord(const wchar_t* text, UINT flags, UINT_PTR id);
    void AddPopupHandle(HMENU popup);
    int ImageFromToolbar(int toolbarId, UINT commandId);
    void TurnBarIntoPlainItems();
    void BuildFromTemplate(const BYTE* data, DWORD size);
    void PaintItemXp(HDC dc, const DRAWITEMSTRUCT& item);
    // First record not yet matched with this id and kind (MF_POPUP, MF_SEPARATOR or 0).
    MenuItemRecord* TakeUnmarked(UINT_PTR id, UINT kind);

    std::vector<std::unique_ptr<MenuItemRecord>> m_items;
    std::vector<HMENU> m_popups;
    std::vector<std::unique_ptr<VantuMenu>> m_loadedSubmenus;  // made by LoadMenu, ours
};
