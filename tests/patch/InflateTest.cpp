// The patcher's own inflate against zlib's deflate: every kind of block zlib writes reads back
// exactly, and streams that break the format's rules are refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "BlockInflater.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Deflated(const Bytes& raw, int level, int strategy, int windowBits) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, windowBits, 8, strategy), Z_OK);
    // zlib's bound falls short for an empty input and a small window.
    Bytes out(deflateBound(&stream, static_cast<uLong>(raw.size())) + 64);
    stream.next_in = const_cast<Bytef*>(raw.data());
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Reads `size` bytes in pieces of `piece` and asks that the stream end just there.
bool Inflates(const Bytes& block, size_t size, size_t piece, Bytes& out) {
    BlockInflater inflater(block);
    out.assign(size, 0);
    for (size_t at = 0; at < size; at += piece)
        if (!inflater.Read(out.data() + at, std::min(piece, size - at))) return false;
    return inflater.EndsHere();
}

// Raw bits, each value's lowest bit first; Huffman codes go first bit first.
class BitWriter {
public:
    BitWriter& Put(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
        return *this;
    }
    BitWriter& Code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
        return *this;
    }
    // Goes on at the next whole byte.
    BitWriter& Aligned(std::initializer_list<uint8_t> bytes) {
        m_used = 0;
        m_bytes.insert(m_bytes.end(), bytes);
        return *this;
    }
    // With a zlib header before, and the Adler-32 of `inflated` after.
    Bytes Block(const Bytes& inflated) const {
        Bytes block(2 + m_bytes.size());
        block[0] = 0x78;
        block[1] = 0x9c;
        std::copy(m_bytes.begin(), m_bytes.end(), block.begin() + 2);
        const uLong sum = adler32(1, inflated.data(), static_cast<uInt>(inflated.size()));
        for (int shift = 24; shift >= 0; shift -= 8) block.push_back(uint8_t(sum >> shift));
        return block;
    }

private:
    void Bit(uint32_t bit) {
        if (m_used == 0) m_bytes.push_back(0);
        m_bytes.back() |= static_cast<uint8_t>(bit << m_used);
        m_used = (m_used + 1) % 8;
    }
    Bytes m_bytes;
    int m_used = 0;
};

// In the fixed code: literals 0..143 are 8 bits from 0x30, 256..279 are 7 bits from 0.
BitWriter& Literal(BitWriter& bits, uint8_t literal) {
    return bits.Code(0x30u + literal, 8);
}
BitWriter& EndOfBlock(BitWriter& bits) {
    return bits.Code(0, 7);
}

}  // namespace

TEST(Inflate, EveryKindOfBlockZlibWritesReadsBackExactly) {
    std::mt19937 random(1951);
    Bytes noise(70'000);
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
    Bytes text;
    while (text.size() < 200'000)
        text.insert(text.end(), {'s', 't', 'e', 'p', ' ', uint8_t('0' + random() % 10), '\n'});
    Bytes codeLike(150'000);  // short repeats near and far, as in a program's diff block
    for (size_t i = 0; i < codeLike.size(); ++i)
        codeLike[i] = i > 40'000 && random() % 3 ? codeLike[i - 1 - random() % 32'000]
                                                 : static_cast<uint8_t>(random() % 5);
    const std::vector<std::pair<std::string, Bytes>> inputs = {{"nothing", {}},
                                                               {"noise", noise},
                                                               {"text", text},
                                                               {"zeros", Bytes(300'000, 0)},
                                                               {"code-like", codeLike}};
    const std::pair<const char*, int> strategies[] = {{"default", Z_DEFAULT_STRATEGY},
                                                      {"filtered", Z_FILTERED},
                                                      {"huffman only", Z_HUFFMAN_ONLY},
                                                      {"runs", Z_RLE},
                                                      {"fixed codes", Z_FIXED}};
    for (const auto& [name, raw] : inputs)
        for (int level : {0, 1, 9})
            for (const auto& [strategyName, strategy] : strategies)
                for (int windowBits : {9, 15}) {
                    SCOPED_TRACE(name + ", level " + std::to_string(level) + ", " + strategyName +
                                 ", window " + std::to_string(windowBits));
                    const Bytes block = Deflated(raw, level, strategy, windowBits);
                    Bytes out;
                    ASSERT_TRUE(Inflates(block, raw.size(), 4093, out));
                    ASSERT_TRUE(out == raw);
                    // One byte more than the stream holds, or a shorter read, is not its end.
                    EXPECT_FALSE(Inflates(block, raw.size() + 1, 4093, out));
                    if (!raw.empty()) {
                        EXPECT_FALSE(Inflates(block, raw.size() - 1, 4093, out));
                    }
                }
}

TEST(Inflate, StreamsThatBreakTheRulesAreRefused) {
    const Bytes abc = {'a', 'b', 'c'};
    BitWriter fixedAbc;
    Literal(Literal(Literal(fixedAbc.Put(1, 1).Put(1, 2), 'a'), 'b'), 'c');
    EndOfBlock(fixedAbc);
    const Bytes good = fixedAbc.Block(abc);
    Bytes out;
    ASSERT_TRUE(Inflates(good, 3, 1, out));
    ASSERT_EQ(out, abc);

    auto withHeader = [&](uint8_t method, uint8_t flags) {
        Bytes changed = good;
        changed[0] = method;
        changed[1] = flags;
        return changed;
    };
    Bytes longer = good;
    longer.push_back(0);
    Bytes wrongSum = good;
    wrongSum.back() ^= 1;
    BitWriter farBack;  // "a", then a match of 3 from 2 back: taken, it would give "a\0a\0"
    Literal(farBack.Put(1, 1).Put(1, 2), 'a').Code(1, 7).Code(1, 5);
    EndOfBlock(farBack);
    BitWriter reserved, storedDisagree, storedPastTheEnd;
    reserved.Put(1, 1).Put(3, 2);
    storedDisagree.Put(1, 1).Put(0, 2).Aligned({3, 0, 0xfc, 0xfe, 'a', 'b', 'c'});
    storedPastTheEnd.Put(1, 1).Put(0, 2).Aligned({9, 0, 0xf6, 0xff, 'a', 'b', 'c'});
    // Dynamic headers: the literal lengths' count, one distance length, 19 length-code lengths.
    auto dynamic = [](BitWriter& bits, uint32_t literals) -> BitWriter& {
        return bits.Put(1, 1).Put(2, 2).Put(literals - 257, 5).Put(0, 5).Put(15, 4);
    };
    BitWriter overfilled, repeatFirst, tooManyLiterals;
    dynamic(overfilled, 257);
    for (int i = 0; i < 19; ++i) overfilled.Put(1, 3);  // nineteen codes of one bit
    // 16, 17, 18, 0, 8, 7, 9 and 6 at three bits fill the code; 16 is then code 5.
    dynamic(repeatFirst, 257);
    for (int i = 0; i < 19; ++i) repeatFirst.Put(i < 8 ? 3 : 0, 3);
    repeatFirst.Code(5, 3).Put(0, 2);
    dynamic(tooManyLiterals, 287);

    const std::pair<const char*, Bytes> refused[] = {
        {"a preset dictionary", withHeader(0x78, 0xbb)},
        {"header check bits wrong", withHeader(0x78, 0x9d)},
        {"another method", withHeader(0x77, 0x09)},
        {"a window over 32 KiB", withHeader(0x88, 0x1c)},
        {"checksum wrong", wrongSum},
        {"cut before its checksum", Bytes(good.begin(), good.end() - 4)},
        {"cut inside a block", Bytes(good.begin(), good.begin() + 4)},
        {"a byte after the checksum", longer},
        {"a match before the first byte", farBack.Block({'a', 0, 'a', 0})},
        {"the reserved block type", reserved.Block({})},
        {"a stored length and a complement that disagree", storedDisagree.Block(abc)},
        {"a stored length past the end", storedPastTheEnd.Block(abc)},
        {"a code overfilled", overfilled.Block(abc)},
        {"a repeat with nothing before", repeatFirst.Block(abc)},
        {"more than 286 literal lengths", tooManyLiterals.Block(abc)},
    };
    for (const auto& [name, block] : refused) {
        SCOPED_TRACE(name);
        for (size_t size : {0, 3, 4}) EXPECT_FALSE(Inflates(block, size, 1, out));
    }
}
