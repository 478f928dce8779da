#include "Component.h"

#include "Messages.h"
#include "ProgramFolder.h"

#include <windows.h>
#include <objbase.h>

#include <string>

namespace registrar {
namespace {

using RegisterServerFunction = HRESULT(STDAPICALLTYPE*)();

// Loads the library by its full path only. The search path (current folder, PATH) is never
// consulted, so no other file of that name can be slipped in; the library's own imports
// are looked for in its folder first. Windows' error boxes for a broken file stay hidden:
// an unloadable library ends the run silently.
HMODULE LoadLibraryFromPath(const std::wstring& path) {
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetThreadErrorMode(previousMode, nullptr);
    return library;
}

// Calls the self-registration export the way regsvr32 does, inside an initialised COM
// apartment: libraries that register a type library need one.
HRESULT CallRegisterServer(RegisterServerFunction registerServer) {
    const HRESULT comResult = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HRESULT result = registerServer();
    if (SUCCEEDED(comResult)) CoUninitialize();
    return result;
}

}  // namespace

int RegisterComponent() {
    const std::wstring folder = GetProgramFolder();
    if (folder.empty()) return 0;
    HMODULE library = LoadLibraryFromPath(folder + L"\\Mervax.dll");
    if (library == nullptr) return 0;

    const auto registerServer = reinterpret_cast<RegisterServerFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DllRegisterServer")));
    if (registerServer == nullptr) {
        // The library stays loaded until the process ends.
        ShowNotice(kRegistrationFailedText);
        return 0;
    }
    if (CallRegisterServer(registerServer) >= 0) {
        // Success codes, S_FALSE among them. The library stays loaded until the process ends.
        ShowNotice(kRegisteredText);
        return 1;
    }
    ShowNotice(kRegistrationFailedText);
    FreeLibrary(library);
    return 0;
}

}  // namespace registrar
