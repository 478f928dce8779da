// Stand-ins for Mervax.dll that tell the tests what registrar did with them. Each one keeps
// a trace in "Mervax.trace" beside itself, one line per event:
//   attach       the library was loaded
//   register     DllRegisterServer was called
//   detach-free  the library was released with FreeLibrary
//   detach-exit  the library was still loaded when the process ended
// Built several times with different definitions:
//   MERVAX_REGISTER_RESULT  the HRESULT DllRegisterServer returns
//   MERVAX_WITHOUT_EXPORT   no DllRegisterServer export at all
#include <windows.h>

#include <string>

namespace {

HMODULE g_module = nullptr;

void Trace(const char* line) {
    wchar_t path[4096];
    const DWORD length = GetModuleFileNameW(g_module, path, 4096);
    if (length == 0 || length >= 4096) return;
    std::wstring tracePath(path, length);
    tracePath = tracePath.substr(0, tracePath.find_last_of(L'\\')) + L"\\Mervax.trace";
    HANDLE file = CreateFileW(tracePath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = std::string(line) + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        Trace("attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        // Windows passes a non-null `reserved` when the process is ending.
        Trace(reserved == nullptr ? "detach-free" : "detach-exit");
    }
    return TRUE;
}

#ifndef MERVAX_WITHOUT_EXPORT
extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
    Trace("register");
    return MERVAX_REGISTER_RESULT;
}
#endif
