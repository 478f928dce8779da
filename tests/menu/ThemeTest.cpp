// The theme is read from HKEY_CURRENT_USER once per process, so each registry case runs in
// a child process of this program: the child reports what it found in its exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "MenuPlatform.h"
#include "TestSupport.h"

namespace {
const wchar_t kThemeKey[] = L"Software\\Microsoft\\Plus!\\Themes\\Current";
constexpr char kChildSwitch[] = "--report-theme";
constexpr DWORD kClassic = 1, kAnsweredOnce = 2, kXpLook = 4;

void WriteTheme(const std::optional<std::wstring>& value) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kThemeKey);
    if (!value) return;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kThemeKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                   static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// In the child: the answer, whether a changed registry leaves it alone, and the look on XP.
int ReportTheme(int osClass) {
    MenuPlatform& platform = MenuPlatform::Current();
    platform.Assume(osClass);
    const bool classic = platform.IsClassicThemeActive();
    WriteTheme(classic ? L"Luna.theme" : L"Windows Classic.theme");
    DWORD report = classic ? kClassic : 0;
    if (platform.IsClassicThemeActive() == classic) report |= kAnsweredOnce;
    if (platform.UsesXpLook()) report |= kXpLook;
    return static_cast<int>(report);
}

DWORD RunChild(int osClass) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    testsupport::ChildProcess child;
    if (!child.Start(self, std::wstring(L"--report-theme ") + std::to_wstring(osClass)))
        return 0xFFFF;
    if (!child.WaitForExit(60000)) return 0xFFFF;
    return child.ExitCode();
}
}  // namespace

TEST(ClassicTheme, ReadOnceFromTheCurrentUsersRegistry) {
    struct Case {
        std::optional<std::wstring> value;
        int osClass;
        DWORD expected;
    };
    const Case cases[] = {
        {L"C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme", kOsWinXp, kClassic},
        {L"c:\\windows\\resources\\themes\\windows classic.THEME", kOsWinXp, kClassic},
        {L"C:\\WINDOWS\\Resources\\Themes\\Luna.theme", kOsWinXp, kXpLook},
        {L"Classic.theme", kOsWinXp, kXpLook},
        {std::nullopt, kOsWinXp, kXpLook},
        {L"C:\\WINDOWS\\Resources\\Themes\\Luna.theme", kOsWin2000, 0},
        {L"C:\\WINDOWS\\Resources\\Themes\\Luna.theme", kOsOtherNt, 0},
    };
    for (const Case& c : cases) {
        WriteTheme(c.value);
        EXPECT_EQ(RunChild(c.osClass), c.expected | kAnsweredOnce)
            << (c.value ? std::string(c.value->begin(), c.value->end()) : "(no key)") << " "
            << c.osClass;
    }
    WriteTheme(std::nullopt);
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildSwitch) == 0)
        return ReportTheme(std::atoi(argv[2]));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
