// The dialog's flat push button: an icon left of its caption, a thin raised border under
// the mouse, a sunken border and a one-pixel shift while pressed, the embossed look when
// disabled. It can also act as a two-state check button, show a popup menu or open an
// address when clicked, show bitmaps instead of icons, show its parent's background instead
// of a face, and show a tip. Clicks still reach the parent as BN_CLICKED.
//
// Bind it like any control (DataExchange::Control); it makes the window owner-drawn at its
// first message or call. All of it runs on the thread that owns the window.
#pragma once

#include <array>

#include "Controls.h"
#include "VantuMenu.h"

// As the rest icon of SetIconHandles: a gray copy of the hot icon.
inline const HICON GRAY_ICON = reinterpret_cast<HICON>(static_cast<INT_PTR>(-2));

class ImageButton : public Button {
public:
    enum ColorSlot {
        COLOR_HOT_BG,     // face while hot or pressed
        COLOR_HOT_TEXT,   // caption while hot or pressed
        COLOR_REST_BG,    // face otherwise
        COLOR_REST_TEXT,  // caption otherwise
        COLOR_FOCUS_BG,   // face while focused, neither hot nor pressed
        COLOR_FOCUS_TEXT,
        COLOR_SLOTS
    };
    enum IconLayout : BYTE { ICON_LEFT, ICON_ABOVE, ICON_RIGHT };
    struct ImageSlot {
        HICON handle = nullptr;  // ours
        DWORD width = 0;
        DWORD height = 0;
    };
    struct BitmapSlot {
        HBITMAP image = nullptr;  // ours; its transparent pixels made black
        DWORD width = 0;
        DWORD height = 0;
        HBITMAP mask = nullptr;  // ours; white where the image is transparent
        COLORREF transparent = 0;
    };
    static constexpr int kMaxUrlBytes = 260;

    ImageButton();
    ~ImageButton() override;

    // Icons 140 and 142 of the program's resources; rest id 0 gives none, -2 a gray copy.
    void LoadIcons(int hotIconId, int restIconId);
    // Takes both icons over (they become ours); 1 when hot is not a usable icon, else 0.
    DWORD SetIconHandles(HICON hot, HICON rest);
    // Takes both bitmaps over (they become ours) in place of every image the button had;
    // pixels of a bitmap's transparent colour let the face show through. Rest may be null.
    // 1 when hot is not a usable bitmap (the button then has no image), else 0.
    DWORD SetBitmaps(HBITMAP hot, COLORREF hotTransparent, HBITMAP rest = nullptr,
                     COLORREF restTransparent = 0);
    void ReleaseImages(bool destroy);
    // A gray copy of icon (ours to free), black pixels kept black; null on failure.
    HICON MakeGrayIcon(HICON icon) const;

    DWORD SetCheckState(int check, bool repaint);
    int GetCheckState() const { return m_checkValue; }
    DWORD RestoreDefaultColors(bool repaint);
    // Stores at most kMaxUrlBytes - 1 bytes, never cutting a double-byte character.
    DWORD SetClickUrl(const char* url);
    const char* GetClickUrl() const { return m_url.data(); }
    // Shows text as the button's tip from now on (the tip stays silent until a text is set).
    void SetTooltipText(const GbkString& text);
    HWND GetToolTip() const { return m_toolTip; }

    bool IsHot() const { return m_hot; }
    bool IsCheckMode() const { return m_checkMode; }
    const ImageSlot& Icon(int slot) const { return m_icons[static_cast<size_t>(slot)]; }
    const BitmapSlot& Bitmap(int slot) const { return m_bitmaps[static_cast<size_t>(slot)]; }

    // Owner drawing (ImageButtonDrawing.cpp).
    void DrawItem(const DRAWITEMSTRUCT& item);

    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Settings; nothing in the updater changes their defaults.
    bool m_grayBitmapWhenDisabled = true;
    bool m_flat = true;
    // Shows the parent's background, captured at the first paint, instead of a face.
    bool m_transparent = false;
    bool m_drawHotBorder = true;
    bool m_focusWhenFlat = false;
    bool m_trackAlways = true;  // light up even when none of the thread's windows is active
    IconLayout m_iconLayout = ICON_LEFT;
    std::array<COLORREF, COLOR_SLOTS> m_colors{};
    HWND m_hMenuOwner = nullptr;  // receives the command chosen from m_menu
    VantuMenu m_menu;             // shown on click when it has a menu
    HCURSOR m_hCursor = nullptr;  // ours; the system's cursor when null

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    virtual void DrawFace(HDC dc, const RECT& rect);
    virtual void DrawHotBorder(HDC dc, const RECT& rect);

private:
    void EnsurePrepared();
    void OnMouseMove(WPARAM flags, LPARAM point);
    void CancelHover();
    void PassFocusOn();
    void OnClicked();
    void Invalidate() const;
    void EnsureToolTip();
    void RelayToToolTip(UINT message, WPARAM wParam, LPARAM lParam);
    void DropBackground();
    LRESULT OnSetStyle(WPARAM style, LPARAM redraw);
    bool OnMeasureItem(MEASUREITEMSTRUCT* item);

    // Drawing steps (ImageButtonDrawing.cpp).
    void DrawEdges(HDC dc, const RECT& rect);
    void DrawCaption(HDC dc, const std::wstring& caption, RECT rect) const;
    void PlaceImage(bool hasCaption, const RECT& item, RECT& caption, bool pressed, DWORD width,
                    DWORD height, RECT& image) const;
    void DrawIconImage(HDC dc, bool hasCaption, const RECT& item, RECT& caption, bool pressed,
                       bool disabled) const;
    void DrawBitmapImage(HDC dc, bool hasCaption, const RECT& item, RECT& caption, bool pressed,
                         bool disabled) const;
    void PaintParentBackground(HDC dc);
    // Slot 0 while lit (or checked in check mode), else slot 1 where it holds an image.
    size_t ImageSlotToDraw(bool pressed, bool restHasImage) const;

    bool m_prepared = false;
    bool m_hot = false;
    bool m_pressed = false;   // recomputed at every paint
    bool m_focused = false;   // recomputed at every paint
    bool m_disabled = false;  // recomputed at every paint
    bool m_isDefault = false;
    bool m_checkMode = false;
    bool m_menuShown = false;
    int m_checkValue = 0;
    std::array<char, kMaxUrlBytes> m_url{};
    std::array<ImageSlot, 2> m_icons{};     // 0: hot, 1: rest
    std::array<BitmapSlot, 2> m_bitmaps{};  // 0: hot, 1: rest
    HWND m_toolTip = nullptr;               // ours; made on the first mouse message
    HDC m_bgDC = nullptr;                   // the captured parent background, ours
    HBITMAP m_bgBitmap = nullptr;           // selected into m_bgDC, ours
    HGDIOBJ m_pOldBgBitmap = nullptr;       // what m_bgDC held before m_bgBitmap
};
