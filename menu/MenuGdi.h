// Small owners of GDI resources for the menu's measuring and drawing: each object made for a
// drawing is gone when the drawing returns.
#pragma once

#include <windows.h>

#include "GdiOwners.h"

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
