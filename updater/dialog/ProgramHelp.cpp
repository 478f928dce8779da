#include "ProgramHelp.h"

#include "ModulePath.h"

std::wstring HelpFilePath() {
    std::wstring path = ModuleFileName();
    const size_t dot = path.rfind(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) path.erase(dot);
    return path + L".hlp";
}

bool ShowProgramHelp(HWND owner) {
    const std::wstring path = HelpFilePath();
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    return WinHelpW(owner, path.c_str(), HELP_FINDER, 0) != FALSE;
}
