// Registration of the component library Mervax.dll that lies beside the program.
#pragma once

namespace registrar {

// Loads Mervax.dll from the program's own folder and calls its DllRegisterServer export.
// 1 when the library registered itself (any success HRESULT), 0 otherwise. A library that
// is missing or cannot be loaded ends silently; a missing export or a failure HRESULT is
// reported with the failure box.
int RegisterComponent();

}  // namespace registrar
