// One window handle and the object that stands for it. A window attached with Subclass gets
// its messages through WindowProc, and messages that Windows sends to the parent on its
// behalf (WM_COMMAND notifications, WM_CTLCOLOR*, WM_DRAWITEM, WM_NOTIFY) are offered to it
// first through OnReflected, so a control can keep its own drawing and behaviour.
#pragma once

#include <windows.h>

#include "GbkString.h"

class Window {
public:
    Window() = default;
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    HWND m_hWnd = nullptr;

    // Takes over an existing window (a dialog's control): its messages reach WindowProc.
    bool Subclass(HWND window);
    bool SubclassDlgItem(int id, const Window& parent);
    void Unsubclass();

    // The object linked to a window by Subclass or by a dialog of ours, or null.
    static Window* FromHandle(HWND window);

    // A message sent to the parent about this control; true when handled, with result set.
    virtual bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    bool IsWindow() const { return ::IsWindow(m_hWnd) != FALSE; }
    bool IsWindowVisible() const { return ::IsWindowVisible(m_hWnd) != FALSE; }
    bool EnableWindow(bool enable) const { return ::EnableWindow(m_hWnd, enable) != FALSE; }
    bool IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd) != FALSE; }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    GbkString GetWindowText() const;
    void SetWindowText(const GbkString& text) const;

protected:
    // Messages of a subclassed window. The default passes them on to the original procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

    // Links this object and the window for FromHandle (dialogs do this themselves).
    void Link(HWND window);
    void Unlink();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    bool m_subclassed = false;
};

// Any window's text, read with the W call and turned into GBK.
GbkString WindowTextOf(HWND window);

// Offers a message that a parent received about one of its controls to that control's object.
bool ReflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
