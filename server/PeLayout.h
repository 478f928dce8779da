// Where a Windows program's own headers say it ends: a copy cut short still starts like a whole
// program, but its headers and section table, a section's data, its certificate table, or its
// COFF symbol table and the string table after it then reach past the end of the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vendor {

struct PeEnd {
    std::uint64_t bytes = 0;  // the least length of the whole program
    std::string error;        // not empty: the headers themselves cannot be read
};

// The end that `program`'s headers give, read from the file itself.
PeEnd ProgramEnd(const std::filesystem::path& program);

}  // namespace vendor
