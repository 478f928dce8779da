// What the owner-drawn menu needs to know of the system it runs on: the OS class, whether the
// classic theme is on, and from these the look to draw. The detection takes its values from
// the caller, so that every version and theme can be tried on any system.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

// OS classes: 0 Windows 9x before 4.0, 2 other 9x, 3 Windows 98, 4 Windows Me,
// 1 other NT, 5 NT 4, 6 Windows 2000, 7 Windows XP.
enum OsClass : int {
    kOsOld9x = 0,
    kOsOtherNt = 1,
    kOsOther9x = 2,
    kOsWin98 = 3,
    kOsWinMe = 4,
    kOsNt4 = 5,
    kOsWin2000 = 6,
    kOsWinXp = 7,
};

// `version` is what GetVersion returns; `detail` what GetVersionEx filled in, or null when
// it could not be had.
int OsClassOf(DWORD version, const OSVERSIONINFOW* detail);
int DetectOsClass();

// True when the current theme's file (the registry value) is the classic one, whatever
// folder it lies in and whatever the letter case.
bool IsClassicThemeName(std::wstring_view themeFile);
// Reads the current theme from HKEY_CURRENT_USER; false when it cannot be read.
bool ReadClassicThemeSetting();

// Looks fixed for the whole process.
constexpr int kDrawModeXpCase = 1;  // 1: flat XP look
constexpr int kDrawModeOther = 0;   // 0: classic 3-D look
constexpr bool kXpImagesWith3dEffect = true;
constexpr bool kClassicHighlightsDisabled = true;
constexpr bool kXpHighlightsDisabled = false;

// XP look only on XP (NT 5.1) with a theme other than the classic one.
bool UsesXpLookFor(int osClass, bool classicTheme);

// The process's answers: the OS class is detected at start-up, the theme once, when first
// asked.
class MenuPlatform {
public:
    static MenuPlatform& Current();

    int OsClass() const { return m_osClass; }
    bool IsClassicThemeActive();
    // Every class but the oldest 9x. "Other NT" (1) counts: it is every NT system after XP
    // (and Wine), and a rule of "class 2 and up" would leave today's Windows measuring menu
    // texts without the menu font and drawing check boxes and image frames without edges.
    bool HasNewShell() const { return m_osClass != kOsOld9x; }
    bool IsXpThemed() { return m_osClass == kOsWinXp && !IsClassicThemeActive(); }
    bool UsesXpLook() { return (IsXpThemed() ? kDrawModeXpCase : kDrawModeOther) == 1; }

    // Takes these answers instead of the detected ones (a program that must draw one look,
    // and tests that show each look). Without a theme answer the theme is read when asked.
    void Assume(int osClass, std::optional<bool> classicTheme = std::nullopt);

private:
    MenuPlatform();
    int m_osClass;
    std::optional<bool> m_classicTheme;
};
