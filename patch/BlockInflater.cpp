#include "BlockInflater.h"

namespace {

constexpr uint32_t kAdlerModulus = 65521;
// The most bytes whose sums cannot overflow 32 bits before they are reduced.
constexpr size_t kAdlerRun = 5552;

// Deflate (method 8) with a window of at most 32 KiB, no preset dictionary, and the header's
// check bits right.
bool IsZlibHeader(std::span<const uint8_t> block) {
    if (block.size() < 2) return false;
    const unsigned method = block[0];
    const unsigned flags = block[1];
    return (method & 0x0f) == 8 && (method >> 4) <= 7 && (flags & 0x20) == 0 &&
           (method << 8 | flags) % 31 == 0;
}

std::span<const uint8_t> AfterHeader(std::span<const uint8_t> block) {
    return IsZlibHeader(block) ? block.subspan(2) : std::span<const uint8_t>();
}

}  // namespace

BlockInflater::BlockInflater(std::span<const uint8_t> block)
    : m_ready(IsZlibHeader(block)), m_decoder(AfterHeader(block)) {}

bool BlockInflater::Read(uint8_t* out, size_t size) {
    if (!m_ready) return false;
    const size_t produced = m_decoder.Decode(out, size);
    AddToChecksum(out, produced);
    return produced == size;
}

bool BlockInflater::EndsHere() {
    if (!m_ready) return false;
    uint8_t spare = 0;
    if (m_decoder.Decode(&spare, 1) != 0 || m_decoder.State() != DeflateDecoder::Status::Ended)
        return false;
    const std::span<const uint8_t> rest = m_decoder.Rest();
    if (rest.size() != 4) return false;
    const uint32_t stored = uint32_t{rest[0]} << 24 | uint32_t{rest[1]} << 16 |
                            uint32_t{rest[2]} << 8 | uint32_t{rest[3]};
    return stored == (m_sumOfSums << 16 | m_sum);
}

void BlockInflater::AddToChecksum(const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const size_t run = size < kAdlerRun ? size : kAdlerRun;
        for (size_t i = 0; i < run; ++i) {
            m_sum += bytes[i];
            m_sumOfSums += m_sum;
        }
        m_sum %= kAdlerModulus;
        m_sumOfSums %= kAdlerModulus;
        bytes += run;
        size -= run;
    }
}
