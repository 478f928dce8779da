// Full path of a loaded module (the running program when null), whatever its length.
#pragma once

#include <windows.h>

#include <string>

std::wstring ModuleFileName(HMODULE module = nullptr);
