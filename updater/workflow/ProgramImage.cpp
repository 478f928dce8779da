#include "ProgramImage.h"

#include <algorithm>

namespace {

constexpr uint64_t kNewHeaderOffset = 0x3C;  // e_lfanew in the DOS header
constexpr uint64_t kFileHeaderBytes = 20;    // after the "PE\0\0" signature
constexpr uint64_t kSectionHeaderBytes = 40;
constexpr uint64_t kCertificateDirectory = 4;  // the one directory given as a file offset

uint32_t ReadLittleEndian(std::string_view bytes, uint64_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[static_cast<size_t>(at) + i]);
    return value;
}

// Where the data directories start in the optional header, by its magic; 0 when unknown.
uint64_t DirectoriesOffset(uint32_t magic) {
    if (magic == 0x10B) return 96;   // PE32
    if (magic == 0x20B) return 112;  // PE32+
    return 0;
}

}  // namespace

std::optional<uint64_t> ProgramImageEnd(std::string_view head) {
    const auto has = [&head](uint64_t at, uint64_t count) { return at + count <= head.size(); };
    const auto read16 = [&head](uint64_t at) { return ReadLittleEndian(head, at, 2); };
    const auto read32 = [&head](uint64_t at) { return ReadLittleEndian(head, at, 4); };

    if (!has(0, kNewHeaderOffset + 4) || head.substr(0, 2) != "MZ") return std::nullopt;
    const uint64_t signature = read32(kNewHeaderOffset);
    if (!has(signature, 4 + kFileHeaderBytes) ||
        head.substr(signature, 4) != std::string_view("PE\0\0", 4))
        return std::nullopt;
    const uint64_t fileHeader = signature + 4;
    const uint64_t sectionCount = read16(fileHeader + 2);
    const uint64_t optionalBytes = read16(fileHeader + 16);
    const uint64_t optionalHeader = fileHeader + kFileHeaderBytes;
    const uint64_t sectionTable = optionalHeader + optionalBytes;
    if (!has(sectionTable, sectionCount * kSectionHeaderBytes)) return std::nullopt;

    uint64_t end = sectionTable + sectionCount * kSectionHeaderBytes;
    for (uint64_t i = 0; i < sectionCount; ++i) {
        const uint64_t section = sectionTable + i * kSectionHeaderBytes;
        const uint64_t rawBytes = read32(section + 16);
        if (rawBytes != 0) end = std::max(end, read32(section + 20) + rawBytes);
    }
    if (optionalBytes >= 2) {
        const uint64_t directories = DirectoriesOffset(read16(optionalHeader));
        const uint64_t certificate = directories + kCertificateDirectory * 8;
        if (directories != 0 && optionalBytes >= certificate + 8 &&
            read32(optionalHeader + directories - 4) > kCertificateDirectory) {
            const uint64_t certificateBytes = read32(optionalHeader + certificate + 4);
            if (certificateBytes != 0)
                end = std::max(end, read32(optionalHeader + certificate) + certificateBytes);
        }
    }
    return end;
}
