// Where a download waits when the installation folder refuses this account: a folder of the
// user's own, under the local application data, one per installation folder so that two
// installations never share a part:
//
//   %LOCALAPPDATA%\Qorvel\Updates\<first 16 hex digits of the SHA-256 of the folder's path>
//
// The path is taken as CanonicalFolder spells it, as UTF-16LE bytes. The
// download stands there under the main program's own name, as it would beside the program.
#pragma once

#include <string>

// The path standing for mainProgram in its user folder; "" when the user has no such place.
std::wstring UserDownloadTarget(const std::wstring& mainProgram);
// Makes the folder of a UserDownloadTarget, and those above it, when missing.
bool MakeUserDownloadFolder(const std::wstring& target);
