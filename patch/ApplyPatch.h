// Applies a delta patch (PatchFormat.h) to the installed file's bytes, checking every length and
// offset against the old file and the patch before using it.
//
// It does NOT hash: the caller checks that the old file's SHA-256 is the header's oldSha256
// before, and that the new file's SHA-256 is its newSha256 after (ReadPatchHeader gives both).
// Memory: the write buffer (at most kPatchWritePiece) and zlib's state; the blocks are inflated
// only as far as the new file needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

enum class PatchResult {
    Applied,      // all newSize bytes were written
    Malformed,    // not a patch: short, a wrong magic, block lengths that do not add up
    TooLarge,     // the header's new size is over kLargestPatchedFile
    Corrupt,      // a block that does not inflate, ends early or late, or a step outside the
                  // old file or past the new size
    WriteFailed,  // `write` returned false (or memory for its buffer ran out)
};

inline constexpr uint64_t kLargestPatchedFile = uint64_t{1} << 31;
inline constexpr size_t kPatchWritePiece = size_t{1} << 20;

// The new file's bytes go to `write` in order, in pieces of at most kPatchWritePiece. On any
// result but Applied, what was written is to be thrown away.
PatchResult ApplyPatch(std::span<const uint8_t> oldFile, std::span<const uint8_t> patch,
                       const std::function<bool(const uint8_t* data, size_t size)>& write);
