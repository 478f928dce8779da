#include "SkinPackage.h"

namespace skin {
namespace {

constexpr unsigned char kMagic[4] = {'Q', 'V', 'S', 'K'};
constexpr std::uint32_t kRgbMask = 0x00FFFFFFu;

std::uint16_t ReadU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint32_t Rgb(unsigned r, unsigned g, unsigned b) {
    return r | (g << 8) | (b << 16);
}

}  // namespace

Scheme BuiltInScheme() {
    const std::uint32_t face = Rgb(240, 243, 246);
    const std::uint32_t text = Rgb(24, 24, 28);
    return Scheme{face, text, face, text};
}

ParseStatus ParsePackage(const unsigned char* data, std::size_t size, Scheme& out) {
    if (data == nullptr || size == 0) return ParseStatus::NoData;
    if (size > kMaxInputSize) return ParseStatus::TooLarge;
    if (size < kHeaderSize) return ParseStatus::TooShort;
    for (std::size_t i = 0; i < sizeof kMagic; ++i) {
        if (data[i] != kMagic[i]) return ParseStatus::BadMagic;
    }
    if (ReadU16(data + 4) != kVersion) return ParseStatus::BadVersion;

    const std::size_t headerSize = ReadU16(data + 6);
    const std::size_t count = ReadU16(data + 8);
    const std::size_t entrySize = ReadU16(data + 10);
    const std::size_t packageSize = ReadU32(data + 12);
    if (headerSize != kHeaderSize || entrySize != kEntrySize) return ParseStatus::BadLayout;
    if (count == 0 || count > kMaxEntries) return ParseStatus::BadCount;
    // The count is bounded above, so this cannot overflow.
    if (packageSize != kHeaderSize + count * kEntrySize) return ParseStatus::BadLayout;
    if (packageSize > size) return ParseStatus::TooShort;

    bool seen[5] = {};
    std::uint32_t colour[5] = {};
    for (std::size_t k = 0; k < count; ++k) {
        const unsigned char* e = data + kHeaderSize + k * kEntrySize;
        const std::uint16_t id = ReadU16(e);
        const std::uint16_t reserved = ReadU16(e + 2);
        const std::uint32_t value = ReadU32(e + 4);
        if (id < kDialogBack || id > kStaticText || reserved != 0 || (value & ~kRgbMask) != 0) {
            return ParseStatus::BadEntry;
        }
        if (seen[id]) return ParseStatus::DuplicateEntry;
        seen[id] = true;
        colour[id] = value;
    }
    if (!seen[kDialogBack] || !seen[kDialogText]) return ParseStatus::MissingEntry;

    out.dialogBack = colour[kDialogBack];
    out.dialogText = colour[kDialogText];
    out.staticBack = seen[kStaticBack] ? colour[kStaticBack] : colour[kDialogBack];
    out.staticText = seen[kStaticText] ? colour[kStaticText] : colour[kDialogText];
    return ParseStatus::Ok;
}

}  // namespace skin
