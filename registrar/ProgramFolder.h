// The folder of the running program: the settings file and the component library lie there.
#pragma once

#include <string>

namespace registrar {

// Directory part of the program's own full path, without the final backslash; empty if
// Windows cannot tell the path.
std::wstring GetProgramFolder();

}  // namespace registrar
