// Inflates one zlib block of a patch as its bytes are asked for: nothing is inflated ahead, so a
// block that inflates to far more than it should (a zip bomb) costs no memory, only the refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

struct z_stream_s;

class BlockInflater {
public:
    explicit BlockInflater(std::span<const uint8_t> block);
    ~BlockInflater();
    BlockInflater(const BlockInflater&) = delete;
    BlockInflater& operator=(const BlockInflater&) = delete;

    // Exactly `size` bytes into `out`; false for a stream that is damaged or ends before.
    bool Read(uint8_t* out, size_t size);
    // True when the stream has ended just here, with no byte of the block left over.
    bool EndsHere();

private:
    int Inflate(uint8_t* out, size_t size, size_t& produced);

    std::unique_ptr<z_stream_s> m_stream;
    std::span<const uint8_t> m_unread;
    bool m_ready = false;
    bool m_ended = false;
};
