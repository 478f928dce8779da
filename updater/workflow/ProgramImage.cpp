#include "ProgramImage.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace {

// The structure of type T at `at`, when `head` holds all of it.
template <typename T>
std::optional<T> ReadAt(std::string_view head, uint64_t at) {
    if (at > head.size() || head.size() - at < sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, head.data() + at, sizeof(T));
    return value;
}

// The certificate table: the one data directory that gives a file offset, not an address.
template <typename OptionalHeader>
std::optional<IMAGE_DATA_DIRECTORY> CertificateTable(std::string_view head, uint64_t at,
                                                     uint64_t optionalBytes) {
    constexpr uint64_t entry = offsetof(OptionalHeader, DataDirectory) +
                               IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    const auto directories =
        ReadAt<DWORD>(head, at + offsetof(OptionalHeader, NumberOfRvaAndSizes));
    if (optionalBytes < entry + sizeof(IMAGE_DATA_DIRECTORY) || !directories ||
        *directories <= IMAGE_DIRECTORY_ENTRY_SECURITY)
        return std::nullopt;
    return ReadAt<IMAGE_DATA_DIRECTORY>(head, at + entry);
}

// The layout, once `head` holds the whole headers and section table; nullopt before, and
// for good when they never come (a DOS program, headers further in than any head reaches).
// Every offset is a 32-bit field summed in 64 bits, so no sum can wrap.
std::optional<ProgramLayout> ReadLayout(std::string_view head) {
    const auto dos = ReadAt<IMAGE_DOS_HEADER>(head, 0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
    const uint64_t signatureAt = static_cast<uint32_t>(dos->e_lfanew);
    const auto signature = ReadAt<DWORD>(head, signatureAt);
    const auto file = ReadAt<IMAGE_FILE_HEADER>(head, signatureAt + sizeof(DWORD));
    if (!signature || *signature != IMAGE_NT_SIGNATURE || !file) return std::nullopt;

    const uint64_t optionalAt = signatureAt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    const uint64_t tableAt = optionalAt + file->SizeOfOptionalHeader;
    const uint64_t tableEnd =
        tableAt + uint64_t{file->NumberOfSections} * IMAGE_SIZEOF_SECTION_HEADER;
    if (tableEnd > head.size()) return std::nullopt;

    ProgramLayout layout;
    layout.end = tableEnd;
    for (uint64_t at = tableAt; at < tableEnd; at += IMAGE_SIZEOF_SECTION_HEADER) {
        const auto section = ReadAt<IMAGE_SECTION_HEADER>(head, at);
        if (section->SizeOfRawData != 0)
            layout.end =
                std::max(layout.end, uint64_t{section->PointerToRawData} + section->SizeOfRawData);
    }
    std::optional<IMAGE_DATA_DIRECTORY> certificates;
    const auto magic =
        file->SizeOfOptionalHeader >= sizeof(WORD) ? ReadAt<WORD>(head, optionalAt) : std::nullopt;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        certificates =
            CertificateTable<IMAGE_OPTIONAL_HEADER32>(head, optionalAt, file->SizeOfOptionalHeader);
    else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        certificates =
            CertificateTable<IMAGE_OPTIONAL_HEADER64>(head, optionalAt, file->SizeOfOptionalHeader);
    if (certificates && certificates->Size != 0)
        layout.end =
            std::max(layout.end, uint64_t{certificates->VirtualAddress} + certificates->Size);
    // The symbols' string table follows the symbol table directly.
    if (file->PointerToSymbolTable != 0)
        layout.stringTableAt = uint64_t{file->PointerToSymbolTable} +
                               uint64_t{file->NumberOfSymbols} * IMAGE_SIZEOF_SYMBOL;
    return layout;
}

constexpr uint64_t kLengthBytes = 4;

}  // namespace

void ProgramImageProof::Add(const char* data, size_t size) {
    const uint64_t from = m_received;
    m_received += size;
    if (m_head.size() < kProgramHeadBytes) {
        m_head.append(data, std::min(size, kProgramHeadBytes - m_head.size()));
        if (!m_layout) m_layout = ReadLayout(m_head);
    }
    CatchStringTableLength(from, data, size);
}

// Every Windows program starts with "MZ"; an error page or a portal's HTML does not.
bool ProgramImageProof::LooksLikeProgram() const {
    const size_t known = std::min<size_t>(m_head.size(), 2);
    return m_head.compare(0, known, "MZ", known) == 0;
}

bool ProgramImageProof::HeadersKnown() const {
    return m_layout.has_value();
}

bool ProgramImageProof::ProvenWhole(uint64_t total) const {
    if (!m_layout) return false;
    uint64_t end = m_layout->end;
    if (m_layout->stringTableAt) {
        const uint64_t at = *m_layout->stringTableAt;
        // Its length counts its own 4 bytes: a smaller one still asks for those.
        if (total < at + kLengthBytes || m_received < at + kLengthBytes) return false;
        end = std::max(end, at + std::max<uint64_t>(StringTableLength(), kLengthBytes));
    }
    return end <= total;
}

// The string table's length lies wherever the symbols end, usually far past the head: its
// bytes are caught as they pass, whichever chunks they are split across.
void ProgramImageProof::CatchStringTableLength(uint64_t from, const char* data, size_t size) {
    if (!m_layout || !m_layout->stringTableAt) return;
    const uint64_t at = std::max<uint64_t>(*m_layout->stringTableAt, kProgramHeadBytes);
    const uint64_t lengthEnd = *m_layout->stringTableAt + kLengthBytes;
    const uint64_t to = from + size;
    for (uint64_t offset = std::max(at, from); offset < std::min(lengthEnd, to); ++offset)
        m_lengthBytes[offset - *m_layout->stringTableAt] =
            static_cast<unsigned char>(data[offset - from]);
}

uint32_t ProgramImageProof::StringTableLength() const {
    const uint64_t at = *m_layout->stringTableAt;
    uint32_t length = 0;
    for (uint64_t i = kLengthBytes; i-- > 0;) {
        const uint64_t offset = at + i;
        const unsigned char byte =
            offset < m_head.size() ? static_cast<unsigned char>(m_head[offset]) : m_lengthBytes[i];
        length = length << 8 | byte;
    }
    return length;
}
