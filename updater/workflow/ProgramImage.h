// Whether a Windows program's body holds all that its own headers say it has. A body sent
// without a length that the network cut short looks whole to HTTP; a program's headers still
// say where its sections, its certificate table and its symbols end, so a cut program can be
// told from a whole one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// How much of a file's start is kept: enough for the headers of any program built the usual
// way. What lies further in is looked at only as it passes.
constexpr size_t kProgramHeadBytes = 64 * 1024;

// Where a program's parts end, as its headers say.
struct ProgramLayout {
    uint64_t end = 0;  // of the headers, the section table, every section's data, the certificates
    std::optional<uint64_t> stringTableAt;  // after the symbol table, when there is one
};

class ProgramImageProof {  // fed the body's bytes in order from offset 0
public:
    void Add(const char* data, size_t size);
    bool LooksLikeProgram() const;           // "MZ" so far (true while fewer than 2 bytes)
    bool HeadersKnown() const;               // the whole headers have come and can be read
    bool ProvenWhole(uint64_t total) const;  // the body of `total` bytes holds all its headers say

private:
    void CatchStringTableLength(uint64_t from, const char* data, size_t size);
    uint32_t StringTableLength() const;

    std::string m_head;
    uint64_t m_received = 0;
    std::optional<ProgramLayout> m_layout;
    // The string table's first 4 bytes (its length) when they lie past the head.
    std::array<unsigned char, 4> m_lengthBytes{};
};
