// What a Windows program's own headers say of its length. A body sent without a length that
// the network cut short looks whole to HTTP; a program's headers still say where its sections
// end, so a cut program can be told from a whole one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// How much of a file's start is enough to hold the headers of any program built the usual way.
constexpr size_t kProgramHeadBytes = 64 * 1024;

// The least length a file that starts with `head` has when it is whole: the end of its
// furthest section, and of its certificate table. nullopt when `head` holds no complete PE
// headers (a DOS program, or headers further in than `head` reaches): nothing can be told.
std::optional<uint64_t> ProgramImageEnd(std::string_view head);
