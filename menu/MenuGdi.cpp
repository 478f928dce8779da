#include "MenuGdi.h"

#include <cstddef>

#include "Application.h"
#include "Window.h"

HWND MeasuringWindow() {
    const Application* app = Application::Current();
    if (app && app->m_pMainWnd && app->m_pMainWnd->m_hWnd) return app->m_pMainWnd->m_hWnd;
    return GetDesktopWindow();
}

MenuFont::MenuFont() {
    // The size without the padded border, which systems before Vista refuse.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
        m_font = CreateFontIndirectW(&metrics.lfMenuFont);
}

MenuFont::~MenuFont() {
    if (m_font) DeleteObject(m_font);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    const COLORREF old = SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkColor(dc, old);
}

void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
    const LONG l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    FillSolid(dc, RECT{l, t, r - 1, t + 1}, topLeft);
    FillSolid(dc, RECT{l, t, l + 1, b - 1}, topLeft);
    FillSolid(dc, RECT{r - 1, t, r, b}, bottomRight);
    FillSolid(dc, RECT{l, b - 1, r, b}, bottomRight);
}
