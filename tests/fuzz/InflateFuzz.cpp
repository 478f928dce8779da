// Fuzz target comparing the patcher's inflate with zlib's: a stream is taken by both or by
// neither, and what both take inflates to the same bytes.
//
// Input: a byte giving the size of each read (1..256), then the deflate stream and whatever
// follows it (Adler-32, stray bytes), behind a fixed zlib header.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "BlockInflater.h"

namespace {

constexpr size_t kLargestOutput = size_t{1} << 17;

// zlib's reading: true when the stream ends with its checksum right and nothing after it.
// `out` holds what it inflated; `complete` is false when the output cap stopped it.
bool ZlibTakes(const std::vector<uint8_t>& block, std::vector<uint8_t>& out, bool& complete) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) std::abort();
    out.assign(kLargestOutput, 0);
    stream.next_in = const_cast<Bytef*>(block.data());
    stream.avail_in = static_cast<uInt>(block.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    complete = stream.avail_out > 0 || result == Z_STREAM_END;
    out.resize(stream.total_out);
    const bool takes = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return takes;
}

bool OursTakes(const std::vector<uint8_t>& block, size_t size, size_t piece,
               std::vector<uint8_t>& out) {
    BlockInflater inflater(block);
    out.assign(size, 0);
    for (size_t at = 0; at < size; at += piece)
        if (!inflater.Read(out.data() + at, std::min(piece, size - at))) return false;
    return inflater.EndsHere();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = size_t{data[0]} + 1;
    std::vector<uint8_t> block = {0x78, 0x9c};
    block.insert(block.end(), data + 1, data + size);
    std::vector<uint8_t> theirs;
    std::vector<uint8_t> ours;
    bool complete = true;
    const bool zlibTakes = ZlibTakes(block, theirs, complete);
    if (!complete) return 0;
    const bool weTake = OursTakes(block, theirs.size(), piece, ours);
    if (zlibTakes != weTake) std::abort();
    if (weTake && ours != theirs) std::abort();
    return 0;
}
