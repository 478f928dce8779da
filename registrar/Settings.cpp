#include "Settings.h"

#include <windows.h>

namespace registrar {
namespace {

constexpr wchar_t kSection[] = L"register";
constexpr wchar_t kKey[] = L"status";

}  // namespace

std::wstring SettingsPath(const std::wstring& folder) {
    return folder + L"\\Setting.ini";
}

bool IsRegistered(const std::wstring& settingsPath) {
    // The profile reader hands "-1" back as 0xFFFFFFFF: read as a signed number, only a
    // positive one counts.
    const int status =
        static_cast<int>(GetPrivateProfileIntW(kSection, kKey, 0, settingsPath.c_str()));
    return status > 0;
}

void RecordRegistered(const std::wstring& settingsPath) {
    WritePrivateProfileStringW(kSection, kKey, L"1", settingsPath.c_str());
}

}  // namespace registrar
