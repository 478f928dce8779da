// The delta patch format: what turns one installed program into the next one.
//
// All integers are little-endian. A patch is
//   "QVPATCH1" (8 bytes), the old file's SHA-256 (32), the new file's size (u64), the new file's
//   SHA-256 (32), the deflated lengths of the control, diff and extra blocks (3 x u64),
// then those three zlib streams (RFC 1950) in that order, and nothing after them.
// The control block inflates to 24-byte steps (x, y, z), each number in 8-byte sign-magnitude
// form (bit 63 the sign): x bytes of the new file are diff bytes added to the old file's bytes at
// the old position, then y bytes come from the extra block, then the old position moves by z.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct PatchHeader {
    std::array<uint8_t, 32> oldSha256{};
    uint64_t newSize = 0;
    std::array<uint8_t, 32> newSha256{};
};

// The three deflated blocks of a patch, inside the patch's own bytes.
struct PatchBlocks {
    std::span<const uint8_t> control;
    std::span<const uint8_t> diff;
    std::span<const uint8_t> extra;
};

inline constexpr std::array<uint8_t, 8> kPatchMagic = {'Q', 'V', 'P', 'A', 'T', 'C', 'H', '1'};
inline constexpr size_t kPatchHeaderSize = 8 + 32 + 8 + 32 + 3 * 8;
inline constexpr size_t kPatchStepSize = 24;

// False for a patch too short for its header, a wrong magic, or block lengths that do not add up
// to exactly the rest of the patch.
bool ReadPatchHeader(std::span<const uint8_t> patch, PatchHeader& header);
// The same, with where the three deflated blocks lie in `patch`.
bool ReadPatchLayout(std::span<const uint8_t> patch, PatchHeader& header, PatchBlocks& blocks);

// A patch of the three raw (inflated) blocks, each deflated at level 9; empty when zlib fails.
std::vector<uint8_t> WritePatch(const PatchHeader& header, std::span<const uint8_t> control,
                                std::span<const uint8_t> diff, std::span<const uint8_t> extra);

// The 8-byte sign-magnitude numbers of the control block.
int64_t ReadPatchNumber(const uint8_t* bytes);
void WritePatchNumber(int64_t value, uint8_t* bytes);
