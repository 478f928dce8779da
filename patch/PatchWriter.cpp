// Kept apart from the reading side: programs that only apply patches link no deflate code.
#include <zlib.h>

#include <climits>
#include <cstring>

#include "PatchFormat.h"

namespace {

void AppendU64(std::vector<uint8_t>& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool Deflate(std::span<const uint8_t> raw, std::vector<uint8_t>& deflated) {
    if (raw.size() > ULONG_MAX) return false;
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    deflated.resize(size);
    if (compress2(deflated.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        return false;
    deflated.resize(size);
    return true;
}

}  // namespace

std::vector<uint8_t> WritePatch(const PatchHeader& header, std::span<const uint8_t> control,
                                std::span<const uint8_t> diff, std::span<const uint8_t> extra) {
    std::vector<uint8_t> blocks[3];
    if (!Deflate(control, blocks[0]) || !Deflate(diff, blocks[1]) || !Deflate(extra, blocks[2]))
        return {};
    std::vector<uint8_t> patch(kPatchMagic.begin(), kPatchMagic.end());
    patch.insert(patch.end(), header.oldSha256.begin(), header.oldSha256.end());
    AppendU64(patch, header.newSize);
    patch.insert(patch.end(), header.newSha256.begin(), header.newSha256.end());
    for (const auto& block : blocks) AppendU64(patch, block.size());
    for (const auto& block : blocks) patch.insert(patch.end(), block.begin(), block.end());
    return patch;
}
