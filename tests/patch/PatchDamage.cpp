#include "PatchDamage.h"

#include "PatchFormat.h"

namespace {

struct Step {
    int64_t copy;
    int64_t extra;
    int64_t seek;
};

constexpr size_t kLengthsAt = kPatchHeaderSize - 24;

uint64_t U64At(const PatchBytes& bytes, size_t at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | bytes[at + i];
    return value;
}

void SetU64At(PatchBytes& bytes, size_t at, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

PatchBytes Changed(PatchBytes bytes, size_t at, uint64_t value) {
    SetU64At(bytes, at, value);
    return bytes;
}

// Moves `by` bytes of length from one block's length to the next one's: the sum still holds.
PatchBytes LengthsShifted(const PatchBytes& patch, int block, int64_t by) {
    PatchBytes lying = patch;
    const size_t at = kLengthsAt + 8 * static_cast<size_t>(block);
    SetU64At(lying, at, U64At(patch, at) + static_cast<uint64_t>(by));
    SetU64At(lying, at + 8, U64At(patch, at + 8) - static_cast<uint64_t>(by));
    return lying;
}

PatchBytes Flipped(PatchBytes bytes, size_t at) {
    bytes[at] ^= 0x55;
    return bytes;
}

PatchBytes ControlOf(const std::vector<Step>& steps) {
    PatchBytes control(steps.size() * kPatchStepSize);
    for (size_t i = 0; i < steps.size(); ++i) {
        WritePatchNumber(steps[i].copy, &control[i * kPatchStepSize]);
        WritePatchNumber(steps[i].extra, &control[i * kPatchStepSize + 8]);
        WritePatchNumber(steps[i].seek, &control[i * kPatchStepSize + 16]);
    }
    return control;
}

// A patch of our own making, for `newSize` bytes, with the given steps and blocks.
PatchBytes Crafted(uint64_t newSize, const std::vector<Step>& steps, const PatchBytes& diff,
                   const PatchBytes& extra, size_t controlCut = 0) {
    PatchBytes control = ControlOf(steps);
    control.resize(control.size() - controlCut);
    PatchHeader header;
    header.newSize = newSize;
    return WritePatch(header, control, diff, extra);
}

// A block's stream with bytes after its end, inside the block's length.
PatchBytes TrailingBytesInExtra() {
    PatchBytes patch = Crafted(8, {{4, 4, 0}}, PatchBytes(4), PatchBytes(4, 'x'));
    patch.push_back(0);
    SetU64At(patch, kLengthsAt + 16, U64At(patch, kLengthsAt + 16) + 1);
    return patch;
}

}  // namespace

PatchResult ApplyInto(const PatchBytes& old, const PatchBytes& patch, PatchBytes& made) {
    made.clear();
    return ApplyPatch(old, patch, [&](const uint8_t* data, size_t size) {
        made.insert(made.end(), data, data + size);
        return true;
    });
}

std::vector<DamagedPatch> DamagedPatches(const PatchBytes& old, const PatchBytes& patch) {
    using enum PatchResult;
    PatchHeader header;
    ReadPatchHeader(patch, header);
    const int64_t oldSize = static_cast<int64_t>(old.size());
    const size_t diffAt = kPatchHeaderSize + U64At(patch, kLengthsAt);
    const PatchBytes none;
    const PatchBytes shortOld(old.begin(), old.begin() + static_cast<long>(old.size() / 3));
    PatchBytes padded = patch;
    padded.push_back(0);
    PatchBytes wrongMagic = patch;
    wrongMagic[7] = '2';
    return {
        {"header cut", old, PatchBytes(patch.begin(), patch.begin() + 60), Malformed},
        {"last byte cut", old, PatchBytes(patch.begin(), patch.end() - 1), Malformed},
        {"a byte after the blocks", old, padded, Malformed},
        {"another magic", old, wrongMagic, Malformed},
        {"an empty patch", old, none, Malformed},
        {"control block longer than its stream", old, LengthsShifted(patch, 0, 1), Corrupt},
        {"control block shorter than its stream", old, LengthsShifted(patch, 0, -1), Corrupt},
        {"diff block shorter than its stream", old, LengthsShifted(patch, 1, -2), Corrupt},
        {"a length beyond the patch", old, Changed(patch, kLengthsAt + 8, ~uint64_t{0}), Malformed},
        {"a damaged control stream", old, Flipped(patch, kPatchHeaderSize + 5), Corrupt},
        {"a damaged diff stream", old, Flipped(patch, diffAt + 9), Corrupt},
        {"a damaged stream end", old, Flipped(patch, patch.size() - 2), Corrupt},
        {"new size one more", old, Changed(patch, 40, header.newSize + 1), Corrupt},
        {"new size one less", old, Changed(patch, 40, header.newSize - 1), Corrupt},
        {"new size beyond the largest", old, Changed(patch, 40, kLargestPatchedFile + 1), TooLarge},
        {"an old file too short", shortOld, patch, Corrupt},
        {"a copy past the old file's end", old, Crafted(8, {{oldSize + 1, 0, 0}}, none, none),
         Corrupt},
        {"a seek before the old file", old,
         Crafted(8, {{4, 0, -5}, {4, 0, 0}}, PatchBytes(8), none), Corrupt},
        {"a seek past the old file", old,
         Crafted(8, {{4, 0, oldSize}, {4, 0, 0}}, PatchBytes(8), none), Corrupt},
        {"a negative copy", old, Crafted(8, {{-4, 12, 0}}, none, PatchBytes(12)), Corrupt},
        {"a negative extra", old, Crafted(8, {{12, -4, 0}}, PatchBytes(12), none), Corrupt},
        {"steps past the new size", old, Crafted(8, {{4, 5, 0}}, PatchBytes(4), PatchBytes(5)),
         Corrupt},
        {"a step cut short", old, Crafted(8, {{4, 0, 0}, {4, 0, 0}}, PatchBytes(8), none, 2),
         Corrupt},
        {"diff bytes left over", old, Crafted(4, {{4, 0, 0}}, PatchBytes(8), none), Corrupt},
        {"empty steps without end", old,
         Crafted(8, std::vector<Step>(64, Step{0, 0, 0}), none, none), Corrupt},
        {"an extra block inflating far past the new size", old,
         Crafted(16, {{0, 16, 0}}, none, PatchBytes(16 << 20)), Corrupt},
        {"bytes after a block's stream", old, TrailingBytesInExtra(), Corrupt},
    };
}
