// Inflates one zlib block (RFC 1950) of a patch as its bytes are asked for: nothing is inflated
// ahead, so a block that inflates to far more than it should (a zip bomb) costs no memory, only
// the refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "DeflateDecoder.h"

class BlockInflater {
public:
    explicit BlockInflater(std::span<const uint8_t> block);

    // Exactly `size` bytes into `out`; false for a stream that is damaged or ends before.
    bool Read(uint8_t* out, size_t size);
    // True when the stream has ended just here, its checksum right, with no byte of the block
    // left over.
    bool EndsHere();

private:
    void AddToChecksum(const uint8_t* bytes, size_t size);

    bool m_ready;
    DeflateDecoder m_decoder;
    uint32_t m_sum = 1;  // Adler-32 of what was inflated: two sums, each modulo 65521
    uint32_t m_sumOfSums = 0;
};
