#include "PatchFormat.h"

#include <cstring>

namespace {

uint64_t ReadU64(const uint8_t* bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

}  // namespace

bool ReadPatchLayout(std::span<const uint8_t> patch, PatchHeader& header, PatchBlocks& blocks) {
    if (patch.size() < kPatchHeaderSize || std::memcmp(patch.data(), kPatchMagic.data(), 8) != 0)
        return false;
    const uint8_t* at = patch.data() + 8;
    std::memcpy(header.oldSha256.data(), at, 32);
    header.newSize = ReadU64(at + 32);
    std::memcpy(header.newSha256.data(), at + 40, 32);
    const uint64_t controlSize = ReadU64(at + 72);
    const uint64_t diffSize = ReadU64(at + 80);
    const uint64_t extraSize = ReadU64(at + 88);
    // Each length is checked against what is left, so that no sum can wrap around.
    uint64_t left = patch.size() - kPatchHeaderSize;
    if (controlSize > left) return false;
    left -= controlSize;
    if (diffSize > left) return false;
    left -= diffSize;
    if (extraSize != left) return false;
    const auto rest = patch.subspan(kPatchHeaderSize);
    blocks.control = rest.first(controlSize);
    blocks.diff = rest.subspan(controlSize, diffSize);
    blocks.extra = rest.subspan(controlSize + diffSize);
    return true;
}

bool ReadPatchHeader(std::span<const uint8_t> patch, PatchHeader& header) {
    PatchBlocks blocks;
    return ReadPatchLayout(patch, header, blocks);
}

int64_t ReadPatchNumber(const uint8_t* bytes) {
    const uint64_t magnitude = ReadU64(bytes) & ~(uint64_t{1} << 63);
    const auto value = static_cast<int64_t>(magnitude);
    return (bytes[7] & 0x80) != 0 ? -value : value;
}

void WritePatchNumber(int64_t value, uint8_t* bytes) {
    // The magnitude of INT64_MIN does not fit: it is written as the largest negative number.
    const uint64_t magnitude =
        value < 0 ? (value == INT64_MIN ? uint64_t{INT64_MAX} : static_cast<uint64_t>(-value))
                  : static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(magnitude >> (8 * i));
    if (value < 0) bytes[7] |= 0x80;
}
