// Self-registration of the component as a machine-wide class: the keys live under
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, which is what HKEY_CLASSES_ROOT shows to every user.
#pragma once

#include <windows.h>

namespace mervax {

// Writes CLSID\{...} with its name and InprocServer32 (this DLL's full path, ThreadingModel).
// Returns the registry's failure as an HRESULT (E_ACCESSDENIED without the rights to write).
HRESULT RegisterComponentClass();

// Removes CLSID\{...} and everything below it; a class that is not registered is no error.
HRESULT UnregisterComponentClass();

}  // namespace mervax
