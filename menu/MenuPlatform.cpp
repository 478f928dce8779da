#include "MenuPlatform.h"

#include <memory>
#include <new>

namespace {
constexpr DWORD kWindows9xBit = 0x80000000;
const wchar_t kThemeKey[] = L"Software\\Microsoft\\Plus!\\Themes\\Current";
constexpr std::wstring_view kClassicThemeFile = L"Windows Classic.theme";

int OsClassOf9x(DWORD major, DWORD minor) {
    if (major == 4 && minor == 10) return kOsWin98;
    if (major == 4 && minor == 90) return kOsWinMe;
    return kOsOther9x;
}

int OsClassOfNt(DWORD major, DWORD minor) {
    if (major == 4) return kOsNt4;
    if (major == 5 && minor == 0) return kOsWin2000;
    if (major == 5 && minor == 1) return kOsWinXp;
    return kOsOtherNt;
}
}  // namespace

int OsClassOf(DWORD version, const OSVERSIONINFOW* detail) {
    const bool is9x = (version & kWindows9xBit) != 0;
    if (is9x && LOBYTE(LOWORD(version)) < 4) return kOsOld9x;
    if (!detail) return is9x ? kOsOther9x : kOsOtherNt;
    return is9x ? OsClassOf9x(detail->dwMajorVersion, detail->dwMinorVersion)
                : OsClassOfNt(detail->dwMajorVersion, detail->dwMinorVersion);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // the version is what we want here
int DetectOsClass() {
    const DWORD version = GetVersion();
    std::unique_ptr<OSVERSIONINFOW> detail(new (std::nothrow) OSVERSIONINFOW{});
    if (detail) {
        detail->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(detail.get())) detail.reset();
    }
    return OsClassOf(version, detail.get());
}
#pragma GCC diagnostic pop

bool IsClassicThemeName(std::wstring_view themeFile) {
    if (themeFile.size() < kClassicThemeFile.size()) return false;
    const std::wstring_view tail = themeFile.substr(themeFile.size() - kClassicThemeFile.size());
    return CompareStringOrdinal(tail.data(), static_cast<int>(tail.size()),
                                kClassicThemeFile.data(),
                                static_cast<int>(kClassicThemeFile.size()), TRUE) == CSTR_EQUAL;
}

bool ReadClassicThemeSetting() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kThemeKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);  // room for a terminator the value may lack
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                       &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!read || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    return IsClassicThemeName(std::wstring_view(value, wcsnlen(value, size / sizeof(wchar_t))));
}

bool UsesXpLookFor(int osClass, bool classicTheme) {
    const bool xpThemed = osClass == kOsWinXp && !classicTheme;
    return (xpThemed ? kDrawModeXpCase : kDrawModeOther) == 1;
}

MenuPlatform::MenuPlatform() : m_osClass(DetectOsClass()) {}

MenuPlatform& MenuPlatform::Current() {
    static MenuPlatform platform;
    return platform;
}

bool MenuPlatform::IsClassicThemeActive() {
    if (!m_classicTheme) m_classicTheme = ReadClassicThemeSetting();
    return *m_classicTheme;
}

void MenuPlatform::Assume(int osClass, std::optional<bool> classicTheme) {
    m_osClass = osClass;
    m_classicTheme = classicTheme;
}
