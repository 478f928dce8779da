#include "DeflateDecoder.h"

#include <algorithm>

namespace {

constexpr size_t kWindowSize = size_t{1} << 15;
constexpr int kLiteralSymbols = 286;
constexpr int kDistanceSymbols = 30;
constexpr int kEndOfBlock = 256;

// Lengths 3..258 and distances 1..32768: a base and that many extra bits per symbol.
void LengthOf(int index, uint32_t& base, int& extraBits) {
    if (index < 8) {
        base = 3 + static_cast<uint32_t>(index);
        extraBits = 0;
    } else if (index == 28) {
        base = 258;
        extraBits = 0;
    } else {
        extraBits = (index - 4) / 4;
        base = ((4u + (index & 3)) << extraBits) + 3;
    }
}

void DistanceOf(int index, uint32_t& base, int& extraBits) {
    if (index < 4) {
        base = 1 + static_cast<uint32_t>(index);
        extraBits = 0;
    } else {
        extraBits = (index - 2) / 2;
        base = ((2u + (index & 1)) << extraBits) + 1;
    }
}

}  // namespace

bool HuffmanCode::Build(const uint8_t* lengths, int symbols) {
    std::fill(std::begin(count), std::end(count), uint16_t{0});
    for (int i = 0; i < symbols; ++i) ++count[lengths[i]];
    count[0] = 0;
    int unused = 1;
    int codes = 0;
    for (int length = 1; length <= kLongest; ++length) {
        unused = 2 * unused - count[length];
        codes += count[length];
        if (unused < 0) return false;
    }
    // An incomplete code is refused, as zlib refuses it, but for a lone one-bit code or none.
    if (unused > 0 && !(codes == 0 || (codes == 1 && count[1] == 1))) return false;
    uint16_t next[kLongest + 1] = {};
    for (int length = 1; length < kLongest; ++length)
        next[length + 1] = static_cast<uint16_t>(next[length] + count[length]);
    for (int i = 0; i < symbols; ++i)
        if (lengths[i] != 0) symbol[next[lengths[i]]++] = static_cast<uint16_t>(i);
    return true;
}

DeflateDecoder::DeflateDecoder(std::span<const uint8_t> input)
    : m_input(input), m_window(std::make_unique<uint8_t[]>(kWindowSize)) {}

size_t DeflateDecoder::Decode(uint8_t* out, size_t size) {
    size_t produced = 0;
    while (produced < size && m_status == Status::Going) {
        bool fine = true;
        if (m_matchLeft > 0)
            produced += CopyMatch(out + produced, size - produced);
        else if (m_block == Block::Header)
            fine = ReadBlockHeader();
        else if (m_block == Block::Stored)
            produced += CopyStored(out + produced, size - produced);
        else
            fine = DecodeSymbol(out, produced);
        if (!fine) m_status = Status::Damaged;
    }
    return produced;
}

// Bits come from each byte's lowest first; at most 16 at a time, so fewer than 8 stay buffered.
bool DeflateDecoder::Bits(int count, uint32_t& value) {
    while (m_bitCount < count) {
        if (m_next == m_input.size()) return false;
        m_bits |= static_cast<uint32_t>(m_input[m_next++]) << m_bitCount;
        m_bitCount += 8;
    }
    value = m_bits & ((1u << count) - 1);
    m_bits >>= count;
    m_bitCount -= count;
    return true;
}

// Huffman codes are packed from their first bit on, so the code grows a bit at a time until it
// falls among the codes of its length.
bool DeflateDecoder::Symbol(const HuffmanCode& code, int& symbol) {
    int value = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length <= HuffmanCode::kLongest; ++length) {
        uint32_t bit = 0;
        if (!Bits(1, bit)) return false;
        value |= static_cast<int>(bit);
        const int count = code.count[length];
        if (value - first < count) {
            symbol = code.symbol[index + value - first];
            return true;
        }
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return false;
}

bool DeflateDecoder::ReadBlockHeader() {
    uint32_t final = 0;
    uint32_t type = 0;
    if (!Bits(1, final) || !Bits(2, type)) return false;
    m_final = final != 0;
    switch (type) {
        case 0:
            return ReadStoredHeader();
        case 1:
            return ReadFixedCodes();
        case 2:
            return ReadDynamicCodes();
        default:
            return false;
    }
}

bool DeflateDecoder::ReadStoredHeader() {
    // The rest of the current byte is padding; the length and its complement follow.
    m_bits = 0;
    m_bitCount = 0;
    if (m_input.size() - m_next < 4) return false;
    const uint8_t* at = m_input.data() + m_next;
    const unsigned length = at[0] | at[1] << 8;
    const unsigned complement = at[2] | at[3] << 8;
    m_next += 4;
    if ((length ^ 0xffffu) != complement || m_input.size() - m_next < length) return false;
    m_storedLeft = length;
    m_block = Block::Stored;
    if (m_storedLeft == 0) EndBlock();
    return true;
}

bool DeflateDecoder::ReadFixedCodes() {
    // All 32 distance codes are built, so that the code is complete; 30 and 31 are never valid.
    uint8_t lengths[288 + 32];
    std::fill(lengths, lengths + 144, uint8_t{8});
    std::fill(lengths + 144, lengths + 256, uint8_t{9});
    std::fill(lengths + 256, lengths + 280, uint8_t{7});
    std::fill(lengths + 280, lengths + 288, uint8_t{8});
    std::fill(lengths + 288, std::end(lengths), uint8_t{5});
    m_block = Block::Coded;
    return m_literals.Build(lengths, 288) && m_distances.Build(lengths + 288, 32);
}

bool DeflateDecoder::ReadDynamicCodes() {
    uint32_t literals = 0;
    uint32_t distances = 0;
    uint32_t lengthCodes = 0;
    if (!Bits(5, literals) || !Bits(5, distances) || !Bits(4, lengthCodes)) return false;
    literals += 257;
    distances += 1;
    lengthCodes += 4;
    if (literals > kLiteralSymbols || distances > kDistanceSymbols) return false;

    static constexpr uint8_t kLengthCodeOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
    uint8_t lengthCodeLengths[19] = {};
    for (uint32_t i = 0; i < lengthCodes; ++i) {
        uint32_t length = 0;
        if (!Bits(3, length)) return false;
        lengthCodeLengths[kLengthCodeOrder[i]] = static_cast<uint8_t>(length);
    }
    HuffmanCode lengthCode;
    uint8_t lengths[kLiteralSymbols + kDistanceSymbols] = {};
    if (!lengthCode.Build(lengthCodeLengths, 19) ||
        !ReadCodeLengths(lengthCode, lengths, literals + distances) || lengths[kEndOfBlock] == 0)
        return false;
    m_block = Block::Coded;
    return m_literals.Build(lengths, static_cast<int>(literals)) &&
           m_distances.Build(lengths + literals, static_cast<int>(distances));
}

// Lengths 0..15 as they are; 16 repeats the last one 3..6 times, 17 and 18 give 3..10 and 11..138
// zeros. No run may cross the end.
bool DeflateDecoder::ReadCodeLengths(const HuffmanCode& lengthCode, uint8_t* lengths,
                                     uint32_t count) {
    for (uint32_t i = 0; i < count;) {
        int symbol = 0;
        if (!Symbol(lengthCode, symbol)) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        uint32_t times = 0;
        if (symbol == 16) {
            if (i == 0 || !Bits(2, times)) return false;
            repeated = lengths[i - 1];
            times += 3;
        } else if (symbol == 17) {
            if (!Bits(3, times)) return false;
            times += 3;
        } else {
            if (!Bits(7, times)) return false;
            times += 11;
        }
        if (times > count - i) return false;
        std::fill(lengths + i, lengths + i + times, repeated);
        i += times;
    }
    return true;
}

bool DeflateDecoder::DecodeSymbol(uint8_t* out, size_t& produced) {
    int symbol = 0;
    if (!Symbol(m_literals, symbol)) return false;
    if (symbol < kEndOfBlock) {
        Emit(out + produced++, static_cast<uint8_t>(symbol));
        return true;
    }
    if (symbol == kEndOfBlock) {
        EndBlock();
        return true;
    }
    if (symbol >= kLiteralSymbols) return false;

    uint32_t length = 0;
    uint32_t distance = 0;
    uint32_t extra = 0;
    int extraBits = 0;
    LengthOf(symbol - 257, length, extraBits);
    if (!Bits(extraBits, extra)) return false;
    length += extra;
    if (!Symbol(m_distances, symbol) || symbol >= kDistanceSymbols) return false;
    DistanceOf(symbol, distance, extraBits);
    if (!Bits(extraBits, extra)) return false;
    distance += extra;
    if (distance > m_produced) return false;
    m_matchLeft = length;
    m_matchDistance = distance;
    return true;
}

size_t DeflateDecoder::CopyStored(uint8_t* out, size_t room) {
    const size_t size = std::min(room, m_storedLeft);
    for (size_t i = 0; i < size; ++i) Emit(out + i, m_input[m_next + i]);
    m_next += size;
    m_storedLeft -= size;
    if (m_storedLeft == 0) EndBlock();
    return size;
}

size_t DeflateDecoder::CopyMatch(uint8_t* out, size_t room) {
    const size_t size = std::min(room, m_matchLeft);
    for (size_t i = 0; i < size; ++i)
        Emit(out + i, m_window[(m_produced - m_matchDistance) & (kWindowSize - 1)]);
    m_matchLeft -= size;
    return size;
}

void DeflateDecoder::Emit(uint8_t* to, uint8_t byte) {
    *to = byte;
    m_window[m_produced++ & (kWindowSize - 1)] = byte;
}

void DeflateDecoder::EndBlock() {
    m_block = Block::Header;
    if (m_final) m_status = Status::Ended;
}
