// Fuzz target over the patcher the updater links: ReadPatchHeader and ApplyPatch must refuse any
// bad patch, never read outside the old file or the patch, and never write more than the
// header's new size.
//
// Input: a mode byte, the old file's length (2 bytes, little-endian), the old file, then
// - mode even: the patch as it is;
// - mode odd: the new size (2 bytes), the number of steps (1 byte), the diff block's length
//   (1 byte, times 4), then the raw control, diff and extra blocks, deflated here into a patch
//   so that the steps' checks are reached past zlib's own.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "ApplyPatch.h"
#include "PatchFormat.h"

namespace {

std::vector<uint8_t> PatchOfRawBlocks(std::span<const uint8_t> input) {
    if (input.size() < 4) return {};
    PatchHeader header;
    header.newSize = input[0] | input[1] << 8;
    size_t controlSize = input[2] * kPatchStepSize;
    size_t diffSize = input[3] * size_t{4};
    input = input.subspan(4);
    controlSize = std::min(controlSize, input.size());
    const auto control = input.first(controlSize);
    input = input.subspan(controlSize);
    diffSize = std::min(diffSize, input.size());
    return WritePatch(header, control, input.first(diffSize), input.subspan(diffSize));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const std::span<const uint8_t> input(data, size);
    const size_t oldSize = std::min<size_t>(data[1] | data[2] << 8, size - 3);
    const auto old = input.subspan(3, oldSize);
    const auto rest = input.subspan(3 + oldSize);
    std::vector<uint8_t> made;
    const std::vector<uint8_t> patch =
        data[0] % 2 == 0 ? std::vector<uint8_t>(rest.begin(), rest.end()) : PatchOfRawBlocks(rest);
    PatchHeader header;
    const bool readable = ReadPatchHeader(patch, header);
    uint64_t written = 0;
    const PatchResult result = ApplyPatch(old, patch, [&](const uint8_t* bytes, size_t count) {
        if (count == 0 || count > kPatchWritePiece) std::abort();
        written += count;
        if (written > header.newSize) std::abort();
        made.assign(bytes, bytes + count);  // reads every byte handed over
        return true;
    });
    if (result != PatchResult::Malformed && !readable) std::abort();
    if (result == PatchResult::Applied && written != header.newSize) std::abort();
    return 0;
}
