#include "Registration.h"

#include "Mervax.h"
#include "ModuleState.h"

#include <objbase.h>

#include <string>

namespace mervax {
namespace {

constexpr wchar_t kClassName[] = L"Mervax Component";
constexpr wchar_t kThreadingModel[] = L"Both";

std::wstring ClassKeyPath() {
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_MervaxComponent, clsid, 40);
    return std::wstring(L"SOFTWARE\\Classes\\CLSID\\") + clsid;
}

// Creates (or opens) a key below HKLM and sets its default value and, optionally, one more.
LSTATUS WriteKey(const std::wstring& path, const std::wstring& defaultValue,
                 const wchar_t* name = nullptr, const wchar_t* value = nullptr) {
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    auto setString = [key](const wchar_t* valueName, const std::wstring& text) {
        return RegSetValueExW(key, valueName, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    status = setString(nullptr, defaultValue);
    if (status == ERROR_SUCCESS && name != nullptr) status = setString(name, value);
    RegCloseKey(key);
    return status;
}

}  // namespace

HRESULT RegisterComponentClass() {
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
    const std::wstring classKey = ClassKeyPath();
    LSTATUS status = WriteKey(classKey, kClassName);
    if (status == ERROR_SUCCESS) {
        status = WriteKey(classKey + L"\\InprocServer32", modulePath, L"ThreadingModel",
                          kThreadingModel);
    }
    if (status != ERROR_SUCCESS) {
        // Leave no half-written class behind (the removal fails as well without rights).
        UnregisterComponentClass();
        return HRESULT_FROM_WIN32(status);
    }
    return S_OK;
}

HRESULT UnregisterComponentClass() {
    const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKeyPath().c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(status);
}

}  // namespace mervax
