#include "TestSupport.h"

namespace testsupport {
namespace {

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfProcess(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) search->found.push_back(window);
    return TRUE;
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindChildWithId(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ChildSearch*>(context);
    if (GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs,
                   const std::function<bool()>& stillWaiting) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        for (HWND window : TopLevelWindowsOf(processId)) {
            if (match(window)) return window;
        }
        if (GetTickCount64() >= deadline) return nullptr;
        if (stillWaiting && !stillWaiting()) return nullptr;
        Sleep(10);
    }
}

std::wstring WindowText(HWND window) {
    // WM_GETTEXT rather than GetWindowTextW: the latter does not ask another process's
    // controls for their text.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

std::wstring WindowClass(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

HWND FindChildById(HWND parent, int id) {
    ChildSearch search{id, nullptr};
    EnumChildWindows(parent, FindChildWithId, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool PressButton(HWND dialog, int id) {
    HWND button = FindChildById(dialog, id);
    if (button == nullptr) return false;
    // Sent rather than posted: a message box under Wine notices a posted command only
    // seconds later. The send is bounded, so a hung dialog cannot stall the test.
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                               reinterpret_cast<LPARAM>(button), SMTO_ABORTIFHUNG, 5000,
                               &result) != 0;
}

}  // namespace testsupport
