#include "Host.h"

#include <commctrl.h>

#include "Window.h"

namespace {
const wchar_t kClassName[] = L"QorvelControlsTestHost";

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}
}  // namespace

Host::Host() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    m_window = CreateWindowExW(0, kClassName, L"controls", WS_POPUP | WS_VISIBLE, 40, 40, 420, 220,
                               nullptr, nullptr, GetModuleHandleW(nullptr), this);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                         NONANTIALIASED_QUALITY, 0, L"宋体");
    SetForegroundWindow(m_window);
    Pump();
}

Host::~Host() {
    DestroyWindow(m_window);
    DeleteObject(m_font);
}

HWND Host::Add(const wchar_t* className, const wchar_t* text, DWORD style, int id, RECT rect) {
    HWND control = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, rect.left,
                                   rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                   m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    return control;
}

int Host::Clicks(int id) const {
    const auto found = m_clicks.find(id);
    return found == m_clicks.end() ? 0 : found->second;
}

void Host::Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK Host::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectToControl(message, wParam, lParam, result)) return result;
    auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED)
        ++host->m_clicks[LOWORD(wParam)];
    return DefWindowProcW(window, message, wParam, lParam);
}

RECT PlaceInParent(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

BoxReader::BoxReader() : m_ownerThread(GetCurrentThreadId()) {
    m_thread = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
}

BoxReader::~BoxReader() {
    WaitForSingleObject(m_thread, 10000);
    CloseHandle(m_thread);
}

std::wstring BoxReader::Text() {
    WaitForSingleObject(m_thread, 10000);
    return m_text;
}

DWORD WINAPI BoxReader::Watch(void* self) {
    auto* reader = static_cast<BoxReader*>(self);
    for (int tries = 0; tries < 500; ++tries) {
        HWND box = nullptr;
        EnumThreadWindows(reader->m_ownerThread, FindBox, reinterpret_cast<LPARAM>(&box));
        if (box) {
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            reader->m_text = text;
            GetWindowTextW(box, text, 1024);
            reader->m_caption = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(10);
    }
    return 0;
}
