#include "Window.h"

#include <commctrl.h>

#include "CodePage.h"
#include "MenuItemRouting.h"

namespace {
const wchar_t kObjectProperty[] = L"QorvelFramework.Window";
constexpr UINT_PTR kSubclassId = 0x5156;  // any id that is ours alone
}  // namespace

Window::~Window() {
    Unsubclass();
    Unlink();
}

void Window::Link(HWND window) {
    m_hWnd = window;
    SetPropW(window, kObjectProperty, this);
}

void Window::Unlink() {
    if (m_hWnd && GetPropW(m_hWnd, kObjectProperty) == this) RemovePropW(m_hWnd, kObjectProperty);
}

Window* Window::FromHandle(HWND window) {
    return window ? static_cast<Window*>(GetPropW(window, kObjectProperty)) : nullptr;
}

bool Window::Subclass(HWND window) {
    if (!window || m_subclassed) return false;
    if (!SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_subclassed = true;
    Link(window);
    return true;
}

bool Window::SubclassDlgItem(int id, const Window& parent) {
    return Subclass(GetDlgItem(parent.m_hWnd, id));
}

void Window::Unsubclass() {
    if (!m_subclassed) return;
    RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
    m_subclassed = false;
    Unlink();
    m_hWnd = nullptr;
}

bool Window::OnReflected(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

LRESULT Window::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return Default(message, wParam, lParam);
}

LRESULT Window::Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK Window::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR self) {
    auto* object = reinterpret_cast<Window*>(self);
    if (message == WM_NCDESTROY) {
        // The window is going away: detach first, so nothing refers to a dead handle.
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        object->Unsubclass();
        return result;
    }
    // Nothing may unwind through the system's window code: a message whose handling failed
    // gets the window's default handling.
    try {
        return object->WindowProc(message, wParam, lParam);
    } catch (...) {
        return DefSubclassProc(window, message, wParam, lParam);
    }
}

GbkString Window::GetWindowText() const {
    return WindowTextOf(m_hWnd);
}

GbkString WindowTextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return ToGbk(text);
}

void Window::SetWindowText(const GbkString& text) const {
    ::SetWindowTextW(m_hWnd, ToWide(text).c_str());
}

bool ReflectToControl(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (RouteMenuItem(message, lParam, result)) return true;  // items of our owner-drawn menus
    HWND control = nullptr;
    switch (message) {
        case WM_COMMAND:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            control = reinterpret_cast<HWND>(lParam);
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType != ODT_MENU) control = item->hwndItem;
            break;
        }
        case WM_NOTIFY:
            control = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
            break;
        default:
            break;
    }
    Window* object = Window::FromHandle(control);
    return object && object->OnReflected(message, wParam, lParam, result);
}
