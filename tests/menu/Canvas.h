// A 32-bit memory DC to draw menu items into and read back pixel by pixel.
#pragma once

#include <windows.h>

class Canvas {
public:
    Canvas(int width, int height, COLORREF fill = RGB(255, 0, 255)) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        m_dc = CreateCompatibleDC(nullptr);
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_old = SelectObject(m_dc, m_bitmap);
        const RECT all{0, 0, width, height};
        const HBRUSH brush = CreateSolidBrush(fill);
        FillRect(m_dc, &all, brush);
        DeleteObject(brush);
    }
    ~Canvas() {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }
    COLORREF At(int x, int y) const { return GetPixel(m_dc, x, y); }

private:
    HDC m_dc;
    HBITMAP m_bitmap;
    HGDIOBJ m_old;
};
