// Small owners of GDI resources for the menu's measuring and drawing: each object made for a
// drawing is gone when the drawing returns.
#pragma once

#include <windows.h>

// Window whose DC measures texts: the application's main window, else the desktop.
HWND MeasuringWindow();

// The system's menu font, made on construction and deleted on destruction.
class MenuFont {
public:
    MenuFont();
    ~MenuFont();
    MenuFont(const MenuFont&) = delete;
    MenuFont& operator=(const MenuFont&) = delete;
    HFONT Handle() const { return m_font; }

private:
    HFONT m_font = nullptr;
};

// A window's DC, released on destruction.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc() { ReleaseDC(m_window, m_dc); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Handle() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// An object selected into a DC; the previous one goes back on destruction.
class Selected {
public:
    Selected(HDC dc, HGDIOBJ object)
        : m_dc(dc), m_old(object ? SelectObject(dc, object) : nullptr) {}
    ~Selected() {
        if (m_old) SelectObject(m_dc, m_old);
    }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A GDI object that is deleted on destruction.
template <typename Handle>
class GdiObject {
public:
    explicit GdiObject(Handle handle = nullptr) : m_handle(handle) {}
    ~GdiObject() {
        if (m_handle) DeleteObject(m_handle);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    Handle Get() const { return m_handle; }
    operator Handle() const { return m_handle; }  // NOLINT: stands for the handle

private:
    Handle m_handle;
};

// A memory DC compatible with `dc`, deleted on destruction.
class MemoryDc {
public:
    explicit MemoryDc(HDC dc) : m_dc(CreateCompatibleDC(dc)) {}
    ~MemoryDc() { DeleteDC(m_dc); }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Handle() const { return m_dc; }

private:
    HDC m_dc;
};

void FillSolid(HDC dc, const RECT& rect, COLORREF colour);
// A one-pixel frame: top and left in `topLeft`, bottom and right in `bottomRight`.
void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight);
