// Small owners of GDI resources: a window's DC, an object selected into a DC and a GDI
// object, each given back when its owner goes out of scope.
#pragma once

#include <windows.h>

#include <utility>

// A window's DC, released on destruction.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc() {
        if (m_dc) ReleaseDC(m_window, m_dc);
    }
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

// A GDI object that is deleted on destruction, unless released first.
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
    // Hands the object over to the caller, who frees it from now on.
    Handle Release() { return std::exchange(m_handle, nullptr); }

private:
    Handle m_handle;
};
