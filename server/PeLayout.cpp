#include "PeLayout.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace vendor {

namespace {

constexpr std::uint32_t kHeadBytes = 64 * 1024;  // holds the headers of any usual program
constexpr std::uint32_t kSectionHeaderBytes = 40;
constexpr std::uint32_t kSymbolBytes = 18;
constexpr unsigned kCertificateDirectory = 4;

class Bytes {
public:
    explicit Bytes(std::string bytes) : m_bytes(std::move(bytes)) {}
    bool Has(std::uint64_t at, std::uint64_t count) const { return at + count <= m_bytes.size(); }
    std::uint32_t Read(std::uint64_t at, unsigned width) const {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < width; ++i)
            value |= std::uint32_t{static_cast<unsigned char>(m_bytes[at + i])} << (8 * i);
        return value;
    }

private:
    std::string m_bytes;
};

std::string ReadAt(std::ifstream& in, std::uint64_t at, std::uint32_t count) {
    std::string bytes(count, '\0');
    in.clear();
    in.seekg(static_cast<std::streamoff>(at));
    in.read(bytes.data(), count);
    bytes.resize(static_cast<size_t>(std::max<std::streamsize>(0, in.gcount())));
    return bytes;
}

}  // namespace

PeEnd ProgramEnd(const std::filesystem::path& program) {
    std::ifstream in(program, std::ios::binary);
    if (!in) return {0, "cannot be opened"};
    const Bytes head(ReadAt(in, 0, kHeadBytes));
    if (!head.Has(0, 64) || head.Read(0, 2) != 0x5A4D) return {0, "has no DOS header"};
    const std::uint32_t pe = head.Read(0x3C, 4);
    if (!head.Has(pe, 24) || head.Read(pe, 4) != 0x00004550) return {0, "has no PE header"};
    const std::uint32_t file = pe + 4;
    const std::uint32_t sections = head.Read(file + 2, 2);
    const std::uint32_t symbols = head.Read(file + 8, 4);
    const std::uint32_t symbolCount = head.Read(file + 12, 4);
    const std::uint32_t optional = file + 20;
    const std::uint32_t optionalSize = head.Read(file + 16, 2);
    const std::uint64_t sectionTable = std::uint64_t{optional} + optionalSize;
    const std::uint64_t headersEnd = sectionTable + std::uint64_t{sections} * kSectionHeaderBytes;
    if (!head.Has(optional, 2) || !head.Has(sectionTable, headersEnd - sectionTable))
        return {0, "has headers longer than " + std::to_string(kHeadBytes) + " bytes"};
    PeEnd end{headersEnd, {}};
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::uint64_t header = sectionTable + std::uint64_t{i} * kSectionHeaderBytes;
        const std::uint32_t size = head.Read(header + 16, 4);
        if (size != 0)
            end.bytes = std::max(end.bytes, std::uint64_t{head.Read(header + 20, 4)} + size);
    }
    // PE32 or PE32+: the data directories start at another place.
    const bool wide = head.Read(optional, 2) == 0x20B;
    const std::uint32_t count = wide ? 108 : 92, directories = wide ? 112 : 96;
    if (optionalSize >= count + 4 && head.Read(optional + count, 4) > kCertificateDirectory &&
        optionalSize >= directories + 8 * (kCertificateDirectory + 1)) {
        const std::uint32_t entry = optional + directories + 8 * kCertificateDirectory;
        const std::uint32_t size = head.Read(entry + 4, 4);
        if (size != 0) end.bytes = std::max(end.bytes, std::uint64_t{head.Read(entry, 4)} + size);
    }
    // The string table follows the symbols; its first four bytes give its length, themselves
    // included. Missing bytes there mean a cut too.
    if (symbols != 0) {
        const std::uint64_t strings =
            std::uint64_t{symbols} + std::uint64_t{symbolCount} * kSymbolBytes;
        const Bytes length(ReadAt(in, strings, 4));
        end.bytes = std::max(
            end.bytes,
            strings + (length.Has(0, 4) ? std::max<std::uint32_t>(4, length.Read(0, 4)) : 4));
    }
    return end;
}

}  // namespace vendor
