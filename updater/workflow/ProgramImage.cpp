#include "ProgramImage.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

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

}  // namespace

std::optional<uint64_t> ProgramImageEnd(std::string_view head) {
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

    uint64_t end = tableEnd;
    for (uint64_t at = tableAt; at < tableEnd; at += IMAGE_SIZEOF_SECTION_HEADER) {
        const auto section = ReadAt<IMAGE_SECTION_HEADER>(head, at);
        if (section->SizeOfRawData != 0)
            end = std::max(end, uint64_t{section->PointerToRawData} + section->SizeOfRawData);
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
        end = std::max(end, uint64_t{certificates->VirtualAddress} + certificates->Size);
    return end;
}
