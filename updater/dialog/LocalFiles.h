// Files of the main product are found beside the running updater, never through the current
// folder or the registry.
#pragma once

#include <string>

#include "GbkString.h"

// The running program's folder (no trailing backslash) followed by suffix, which normally
// starts with a backslash: GetModuleDir(L"\\Tanvik体验版.exe").
std::wstring GetModuleDir(const std::wstring& suffix);

// The folder of a full path, without its last backslash; "" when it names none.
std::wstring FolderOf(const std::wstring& path);
// One spelling for a folder, whatever way it is written (Windows paths ignore case): its full
// path (".", ".." and "/" resolved), without a last backslash unless it is a drive's root, in
// lower case. "" when the path cannot be made full.
std::wstring CanonicalFolder(const std::wstring& folder);

// A file of the main product beside the updater, named in GBK: ProductFile(kTrialProgram).
std::wstring ProductFile(const char* name);

// The file version of path as "a.b.c.d", or "" when the file has none or cannot be read.
GbkString GetFileVersionString(const std::wstring& path);
