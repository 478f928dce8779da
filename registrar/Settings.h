// Setting.ini beside the program: section "register", key "status" records that the
// component was registered in this installation.
#pragma once

#include <string>

namespace registrar {

std::wstring SettingsPath(const std::wstring& folder);

// True when "status" reads as a positive integer. A missing file, section or key, 0, an
// empty value, a negative number or a text that is no number all mean "not registered".
bool IsRegistered(const std::wstring& settingsPath);

// Writes status=1, creating the file and the section when they are missing. A failure to
// write goes unnoticed: the next start then simply registers again.
void RecordRegistered(const std::wstring& settingsPath);

}  // namespace registrar
