// Decodes a raw deflate stream (RFC 1951) held whole in memory, only as far as its bytes are asked
// for. Written for the patcher instead of taking zlib's inflate into the updater: a few kilobytes
// against some thirty-five, and decoding speed does not matter next to a download.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// A canonical Huffman code, decoded a bit at a time.
struct HuffmanCode {
    static constexpr int kLongest = 15;
    uint16_t count[kLongest + 1] = {};  // codes of each length
    uint16_t symbol[288] = {};          // symbols in the order of their codes

    // False for lengths that overfill the code or leave it incomplete, where it has more than a
    // single one-bit code.
    bool Build(const uint8_t* lengths, int symbols);
};

class DeflateDecoder {
public:
    enum class Status { Going, Ended, Damaged };

    explicit DeflateDecoder(std::span<const uint8_t> input);

    // Up to `size` bytes into `out`; fewer only once the stream has ended or proved damaged.
    size_t Decode(uint8_t* out, size_t size);
    Status State() const { return m_status; }
    // The input after the stream's last byte, once it has ended.
    std::span<const uint8_t> Rest() const { return m_input.subspan(m_next); }

private:
    enum class Block { Header, Stored, Coded };

    bool Bits(int count, uint32_t& value);
    bool Symbol(const HuffmanCode& code, int& symbol);
    bool ReadBlockHeader();
    bool ReadStoredHeader();
    bool ReadFixedCodes();
    bool ReadDynamicCodes();
    bool ReadCodeLengths(const HuffmanCode& lengthCode, uint8_t* lengths, uint32_t count);
    bool DecodeSymbol(uint8_t* out, size_t& produced);
    size_t CopyStored(uint8_t* out, size_t room);
    size_t CopyMatch(uint8_t* out, size_t room);
    void Emit(uint8_t* to, uint8_t byte);
    void EndBlock();

    std::span<const uint8_t> m_input;
    size_t m_next = 0;
    uint32_t m_bits = 0;
    int m_bitCount = 0;
    Status m_status = Status::Going;
    Block m_block = Block::Header;
    bool m_final = false;
    size_t m_storedLeft = 0;
    size_t m_matchLeft = 0;
    size_t m_matchDistance = 0;
    uint64_t m_produced = 0;
    std::unique_ptr<uint8_t[]> m_window;  // the last 32 KiB, which matches copy from
    HuffmanCode m_literals;
    HuffmanCode m_distances;
};
