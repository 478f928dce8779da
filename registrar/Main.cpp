// registrar: registers the component library once per installation. No window of its own;
// the outcome is told in a message box and a success is kept in Setting.ini.
#include "Component.h"
#include "ProgramFolder.h"
#include "Settings.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const std::wstring folder = registrar::GetProgramFolder();
    if (folder.empty()) return 0;
    const std::wstring settingsPath = registrar::SettingsPath(folder);
    if (registrar::IsRegistered(settingsPath)) return 0;
    if (registrar::RegisterComponent() != 0) registrar::RecordRegistered(settingsPath);
    // The exit code tells nothing: the user has seen the outcome.
    return 0;
}
