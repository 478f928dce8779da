// Process-wide state of the library: its own module handle and the count of objects and
// server locks that keep it loaded (DllCanUnloadNow answers from it).
#pragma once

#include <windows.h>

#include <string>

namespace mervax {

void SetModuleHandle(HMODULE module);
HMODULE ModuleHandle();

// Full path of this DLL as loaded (whatever folder it lies in).
std::wstring ModulePath();

void AddModuleReference();
void ReleaseModuleReference();
bool ModuleInUse();

}  // namespace mervax
