// SHA-256 by both of its engines: the published vectors, and the same digest whatever the pieces
// it is given (the processor's engine buffers partial blocks itself), also when the pieces go
// to the hashing thread in batches.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BackgroundSha256.h"
#include "Sha256.h"
#include "ShaExtensions.h"

namespace {

std::string Hex(const std::array<uint8_t, 32>& digest) {
    std::string text;
    char two[3];
    for (uint8_t byte : digest) {
        std::snprintf(two, sizeof(two), "%02x", byte);
        text += two;
    }
    return text;
}

// The digest of bytes given in pieces of the sizes listed, the last size repeating.
std::string DigestInPieces(Sha256::Engine engine, const std::string& bytes,
                           const std::vector<size_t>& pieces) {
    Sha256 hash(engine);
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); i = std::min(i + 1, pieces.size() - 1)) {
        const size_t size = std::min(pieces[i], bytes.size() - at);
        EXPECT_TRUE(hash.Add(bytes.data() + at, static_cast<ULONG>(size)));
        at += size;
    }
    std::array<uint8_t, 32> digest{};
    EXPECT_TRUE(hash.Finish(digest));
    EXPECT_FALSE(hash.Finish(digest)) << "a finished digest takes nothing more";
    return Hex(digest);
}

const Sha256::Engine kEngines[] = {Sha256::Engine::Fastest, Sha256::Engine::Platform};

#if defined(__i386__)
// Calls function(a, b, c) (cdecl) with the stack pointer `offset` bytes away from the 16-byte
// alignment that GCC assumes by default, as a thread start or a callback from the system may
// leave it: the 32-bit ABI promises only 4 bytes.
extern "C" void CallWithStackOffset(void (*function)(), void* a, const void* b, size_t c,
                                    size_t offset);
asm(R"(
    .text
    .globl _CallWithStackOffset
_CallWithStackOffset:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    movl 8(%ebp), %eax
    movl 24(%ebp), %ecx
    movl %esp, %esi
    andl $-16, %esp
    subl %ecx, %esp
    subl $4, %esp
    pushl 20(%ebp)
    pushl 16(%ebp)
    pushl 12(%ebp)
    call *%eax
    movl %esi, %esp
    popl %esi
    popl %ebp
    ret
)");
#endif

}  // namespace

// The processor's engine keeps SSE values in stack slots; on a 32-bit thread whose stack is only
// 4-byte aligned it must realign, not fault.
TEST(Sha256, ProcessorEngineOnAStackOnlyFourByteAligned) {
#if !defined(__i386__)
    GTEST_SKIP() << "only 32-bit Windows promises 4-byte stack alignment alone";
#else
    if (!ProcessorHasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
    // "abc", padded to one block.
    uint8_t block[64] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    for (size_t offset : {0, 4, 8, 12}) {
        SCOPED_TRACE("stack " + std::to_string(offset) + " bytes off");
        uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        CallWithStackOffset(reinterpret_cast<void (*)()>(&HashBlocksWithShaExtensions), state,
                            block, 1, offset);
        EXPECT_EQ(state[0], 0xba7816bfu);
        EXPECT_EQ(state[7], 0xf20015adu);
    }
#endif
}

TEST(Sha256, PublishedVectorsByEitherEngine) {
    const struct {
        std::string bytes;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (Sha256::Engine engine : kEngines) {
        for (const auto& vector : vectors) {
            SCOPED_TRACE(vector.bytes.substr(0, 16) + " engine " +
                         std::to_string(static_cast<int>(engine)));
            EXPECT_EQ(DigestInPieces(engine, vector.bytes, {1 << 20}), vector.digest);
        }
    }
}

TEST(Sha256, TheSameDigestWhateverThePiecesAndLengths) {
    std::printf("this processor %s the SHA extensions\n",
                ProcessorHasShaExtensions() ? "has" : "lacks");
    std::string bytes;
    uint32_t seed = 12345;
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    // Lengths around the block and padding edges (55, 56, 63, 64...), pieces that straddle them.
    const std::vector<std::vector<size_t>> pieceSizes = {{1}, {3, 61}, {63}, {64}, {65}, {7, 200}};
    for (size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4096}) {
        const std::string part = bytes.substr(0, length);
        const std::string expected = DigestInPieces(Sha256::Engine::Platform, part, {1 << 20});
        for (Sha256::Engine engine : kEngines) {
            for (const auto& pieces : pieceSizes) {
                SCOPED_TRACE("length " + std::to_string(length) + " first piece " +
                             std::to_string(pieces[0]));
                EXPECT_EQ(DigestInPieces(engine, part, pieces), expected);
            }
        }
    }
}

TEST(Sha256, OnItsOwnThreadAcrossBatches) {
    // A few megabytes in pieces that straddle the batches handed to the thread.
    std::string bytes(3 * (1 << 20) + 12345, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 24);
    const std::string expected = DigestInPieces(Sha256::Engine::Platform, bytes, {1 << 22});
    BackgroundSha256 background;
    for (size_t at = 0; at < bytes.size(); at += 16381) {
        const size_t size = std::min<size_t>(16381, bytes.size() - at);
        ASSERT_TRUE(background.Add(bytes.data() + at, static_cast<ULONG>(size)));
    }
    std::array<uint8_t, 32> digest{};
    ASSERT_TRUE(background.Finish(digest));
    EXPECT_EQ(Hex(digest), expected);
    EXPECT_FALSE(background.Add("x", 1)) << "a finished digest takes nothing more";

    BackgroundSha256 abandoned;  // ends without Finish, with batches still queued
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(abandoned.Add(bytes.data(), 1 << 20));
}
