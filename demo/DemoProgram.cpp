// The demonstration's main program, in two editions: a window that says which edition and
// which file version it is, so that an update can be seen. It closes like any window.
#include <windows.h>

#include <string>

#include "CodePage.h"
#include "LocalFiles.h"
#include "ModulePath.h"

namespace {

#ifdef COMMERCIAL_EDITION
const wchar_t kEdition[] = L"Qorvel 商业版";
#else
const wchar_t kEdition[] = L"Qorvel 体验版";
#endif

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateMainWindow(HINSTANCE instance, const std::wstring& text) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"QorvelDemoProgram";
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowExW(0, windowClass.lpszClassName, kEdition, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 360, 160, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return nullptr;
    RECT client{};
    GetClientRect(window, &client);
    HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER, 0,
                                 client.bottom / 2 - 12, client.right, 24, window, nullptr,
                                 instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
    return window;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    const std::wstring version = ToWide(GetFileVersionString(ModuleFileName()));
    HWND window = CreateMainWindow(instance, std::wstring(kEdition) + L"  版本 " + version);
    if (window == nullptr) return 1;
    ShowWindow(window, show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
