// The part of a command line that follows the program name.
#pragma once

#include <string_view>

// Skips the program name (quoted, or up to the first blank or control character) and the
// blanks and control characters after it.
std::wstring_view CommandLineTail(std::wstring_view commandLine);
