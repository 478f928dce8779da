// SkinHu.dll: a colour scheme for the dialogs of the threads that attach it.
//
// A thread-local CBT hook sees every dialog ("#32770") that the thread creates and subclasses
// it. The subclass changes only the answers to WM_CTLCOLORDLG and WM_CTLCOLORSTATIC, and only
// when the dialog itself left them to the system (the answer is the system's face brush): a
// control that paints itself through its parent's answer keeps its own look.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cwchar>
#include <new>

#include "SkinHu.h"
#include "SkinPackage.h"

namespace {

constexpr UINT_PTR kSubclassId = 0x534B4E31;  // "SKN1"

SRWLOCK g_schemeLock = SRWLOCK_INIT;
skin::Scheme g_scheme = skin::BuiltInScheme();
std::atomic<bool> g_aero{false};

// Hooks are per thread, so each attaching thread keeps its own.
thread_local HHOOK t_hook = nullptr;

skin::Scheme CurrentScheme() {
    AcquireSRWLockShared(&g_schemeLock);
    const skin::Scheme scheme = g_scheme;
    ReleaseSRWLockShared(&g_schemeLock);
    return scheme;
}

void SetScheme(const skin::Scheme& scheme) {
    AcquireSRWLockExclusive(&g_schemeLock);
    g_scheme = scheme;
    ReleaseSRWLockExclusive(&g_schemeLock);
}

// The colours one dialog was created with; lives as long as the dialog's subclass.
struct DialogLook {
    COLORREF dialogText;
    COLORREF dialogBack;
    COLORREF staticText;
    COLORREF staticBack;
    HBRUSH dialogBrush;
    HBRUSH staticBrush;
};

void FreeLook(DialogLook* look) {
    if (look->dialogBrush) DeleteObject(look->dialogBrush);
    if (look->staticBrush) DeleteObject(look->staticBrush);
    delete look;
}

LRESULT CALLBACK DialogSubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR refData) {
    auto* look = reinterpret_cast<DialogLook*>(refData);
    switch (msg) {
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC: {
            const LRESULT answer = DefSubclassProc(hwnd, msg, wParam, lParam);
            if (reinterpret_cast<HBRUSH>(answer) != GetSysColorBrush(COLOR_BTNFACE)) {
                return answer;
            }
            const bool dialog = msg == WM_CTLCOLORDLG;
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, dialog ? look->dialogText : look->staticText);
            SetBkColor(dc, dialog ? look->dialogBack : look->staticBack);
            return reinterpret_cast<LRESULT>(dialog ? look->dialogBrush : look->staticBrush);
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, DialogSubclassProc, id);
            FreeLook(look);
            return DefSubclassProc(hwnd, msg, wParam, lParam);
        default:
            return DefSubclassProc(hwnd, msg, wParam, lParam);
    }
}

void SkinIfDialog(HWND hwnd) {
    wchar_t className[16] = {};
    if (GetClassNameW(hwnd, className, 16) == 0 || std::wcscmp(className, L"#32770") != 0) {
        return;
    }
    const skin::Scheme scheme = CurrentScheme();
    auto* look =
        new (std::nothrow) DialogLook{scheme.dialogText, scheme.dialogBack, scheme.staticText,
                                      scheme.staticBack, nullptr,           nullptr};
    if (!look) return;
    look->dialogBrush = CreateSolidBrush(scheme.dialogBack);
    look->staticBrush = CreateSolidBrush(scheme.staticBack);
    if (!look->dialogBrush || !look->staticBrush ||
        !SetWindowSubclass(hwnd, DialogSubclassProc, kSubclassId,
                           reinterpret_cast<DWORD_PTR>(look))) {
        FreeLook(look);  // the dialog simply keeps the system's look
    }
}

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) SkinIfDialog(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Hooks the calling thread once. The module is pinned first: hooked threads and subclassed
// dialogs call into it for as long as they live, so it must never be unloaded.
bool HookThisThread() {
    if (t_hook) return true;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(&CbtProc), &self)) {
        return false;
    }
    t_hook = SetWindowsHookExW(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    return t_hook != nullptr;
}

}  // namespace

extern "C" {

SKINHU_API int __stdcall SkinH_Attach() {
    return HookThisThread() ? 1 : 0;
}

SKINHU_API int __stdcall SkinH_AttachRes(const unsigned char* data, int size,
                                         const char* /*password*/, int /*a*/, int /*b*/,
                                         int /*c*/) {
    if (size <= 0) return 0;
    skin::Scheme scheme{};
    if (skin::ParsePackage(data, static_cast<std::size_t>(size), scheme) != skin::ParseStatus::Ok) {
        return 0;
    }
    if (!HookThisThread()) return 0;
    SetScheme(scheme);
    return 1;
}

SKINHU_API int __stdcall SkinH_SetAero(int enable) {
    // Frames stay opaque whatever is asked; the wish is only remembered.
    g_aero.store(enable != 0);
    return 1;
}
}
