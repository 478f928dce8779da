#include "BlockInflater.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace {

// zlib counts in 32-bit integers: bigger spans are handed over in pieces.
constexpr size_t kLargestPiece = size_t{1} << 30;

}  // namespace

BlockInflater::BlockInflater(std::span<const uint8_t> block)
    : m_stream(new (std::nothrow) z_stream_s{}), m_unread(block) {
    m_ready = m_stream && inflateInit(m_stream.get()) == Z_OK;
}

BlockInflater::~BlockInflater() {
    if (m_ready) inflateEnd(m_stream.get());
}

int BlockInflater::Inflate(uint8_t* out, size_t size, size_t& produced) {
    z_stream_s& stream = *m_stream;
    if (stream.avail_in == 0) {
        const size_t piece = std::min(m_unread.size(), kLargestPiece);
        stream.next_in = const_cast<Bytef*>(m_unread.data());
        stream.avail_in = static_cast<uInt>(piece);
        m_unread = m_unread.subspan(piece);
    }
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(std::min(size, kLargestPiece));
    const uInt room = stream.avail_out;
    const int result = inflate(&stream, Z_NO_FLUSH);
    produced = room - stream.avail_out;
    return result;
}

bool BlockInflater::Read(uint8_t* out, size_t size) {
    while (size > 0) {
        if (!m_ready || m_ended) return false;
        size_t produced = 0;
        const int result = Inflate(out, size, produced);
        out += produced;
        size -= produced;
        if (result == Z_STREAM_END)
            m_ended = true;
        else if (result != Z_OK && !(result == Z_BUF_ERROR && produced > 0))
            return false;
    }
    return true;
}

bool BlockInflater::EndsHere() {
    if (!m_ready) return false;
    if (!m_ended) {
        // Whatever is left may hold only the stream's end: one byte more is a block too long.
        uint8_t spare = 0;
        size_t produced = 0;
        int result = Z_OK;
        do {
            result = Inflate(&spare, 1, produced);
        } while (result == Z_OK && produced == 0 && (m_stream->avail_in > 0 || !m_unread.empty()));
        m_ended = result == Z_STREAM_END && produced == 0;
        if (!m_ended) return false;
    }
    return m_stream->avail_in == 0 && m_unread.empty();
}
