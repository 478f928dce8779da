// The skin package reader: the generator's package, hand-made packages, and damaged bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "SkinPackage.h"
#include "TestFiles.h"

namespace {

using skin::ParsePackage;
using skin::ParseStatus;
using skin::Scheme;

using Bytes = std::vector<unsigned char>;

void PutU16(Bytes& b, size_t at, unsigned v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(Bytes& b, size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(v >> (8 * k));
}

// A well-formed version 1 package with the given (id, colour) entries.
Bytes MakePackage(std::initializer_list<std::pair<unsigned, std::uint32_t>> entries) {
    Bytes b(16 + 8 * entries.size());
    b[0] = 'Q';
    b[1] = 'V';
    b[2] = 'S';
    b[3] = 'K';
    PutU16(b, 4, 1);
    PutU16(b, 6, 16);
    PutU16(b, 8, static_cast<unsigned>(entries.size()));
    PutU16(b, 10, 8);
    PutU32(b, 12, static_cast<std::uint32_t>(b.size()));
    size_t at = 16;
    for (const auto& [id, colour] : entries) {
        PutU16(b, at, id);
        PutU32(b, at + 4, colour);
        at += 8;
    }
    return b;
}

Bytes FullPackage() {
    return MakePackage({{1, 0x00F0E0D0}, {2, 0x00102030}, {3, 0x00C0B0A0}, {4, 0x00405060}});
}

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

// Parses and checks that a refused package leaves the output alone.
ParseStatus Parse(const Bytes& b, size_t size) {
    Scheme out{kUntouched, kUntouched, kUntouched, kUntouched};
    const ParseStatus status = ParsePackage(b.data(), size, out);
    if (status != ParseStatus::Ok) {
        EXPECT_EQ(out.dialogBack, kUntouched);
        EXPECT_EQ(out.staticText, kUntouched);
    }
    return status;
}

ParseStatus Parse(const Bytes& b) {
    return Parse(b, b.size());
}

TEST(SkinPackage, GeneratedDefaultPackageIsACalmLightScheme) {
    const Bytes bytes = skintest::ReadWholeFile(skintest::ArtPath(L"default.skin"));
    ASSERT_FALSE(bytes.empty()) << "default.skin was not generated";
    Scheme s{};
    ASSERT_EQ(ParsePackage(bytes.data(), bytes.size(), s), ParseStatus::Ok);
    // Light faces, dark text: every channel of the faces bright, of the texts dark.
    for (std::uint32_t face : {s.dialogBack, s.staticBack}) {
        for (int shift : {0, 8, 16}) EXPECT_GE((face >> shift) & 0xFF, 200u) << std::hex << face;
    }
    for (std::uint32_t text : {s.dialogText, s.staticText}) {
        for (int shift : {0, 8, 16}) EXPECT_LE((text >> shift) & 0xFF, 100u) << std::hex << text;
    }
    EXPECT_NE(s.dialogBack, skin::BuiltInScheme().dialogBack)
        << "the package should be told apart from the built-in scheme";
}

TEST(SkinPackage, ReadsEveryColourAndDefaultsTheStaticOnes) {
    Scheme s{};
    ASSERT_EQ(ParsePackage(FullPackage().data(), FullPackage().size(), s), ParseStatus::Ok);
    EXPECT_EQ(s.dialogBack, 0x00F0E0D0u);
    EXPECT_EQ(s.dialogText, 0x00102030u);
    EXPECT_EQ(s.staticBack, 0x00C0B0A0u);
    EXPECT_EQ(s.staticText, 0x00405060u);

    // Entries in any order; static colours fall back to the dialog's.
    const Bytes minimal = MakePackage({{2, 0x00010203}, {1, 0x00A0B0C0}});
    ASSERT_EQ(ParsePackage(minimal.data(), minimal.size(), s), ParseStatus::Ok);
    EXPECT_EQ(s.dialogBack, 0x00A0B0C0u);
    EXPECT_EQ(s.staticBack, 0x00A0B0C0u);
    EXPECT_EQ(s.staticText, 0x00010203u);

    // A padded resource: bytes after the package are not part of it.
    Bytes padded = FullPackage();
    padded.resize(padded.size() + 7, 0xCC);
    EXPECT_EQ(Parse(padded), ParseStatus::Ok);
}

TEST(SkinPackage, RefusesMissingAndTruncatedBytes) {
    const Bytes good = FullPackage();
    Scheme out{};
    EXPECT_EQ(ParsePackage(nullptr, 40, out), ParseStatus::NoData);
    EXPECT_EQ(Parse(good, 0), ParseStatus::NoData);
    for (size_t n = 1; n < good.size(); ++n) {
        EXPECT_EQ(Parse(good, n), ParseStatus::TooShort) << "length " << n;
    }
    Bytes huge = good;
    huge.resize(skin::kMaxInputSize + 1);
    EXPECT_EQ(Parse(huge), ParseStatus::TooLarge);
}

TEST(SkinPackage, RefusesForeignHeaders) {
    for (size_t at = 0; at < 4; ++at) {
        Bytes b = FullPackage();
        b[at] ^= 0x20;
        EXPECT_EQ(Parse(b), ParseStatus::BadMagic) << "magic byte " << at;
    }
    for (unsigned version : {0u, 2u, 0x100u, 0xFFFFu}) {
        Bytes b = FullPackage();
        PutU16(b, 4, version);
        EXPECT_EQ(Parse(b), ParseStatus::BadVersion) << version;
    }
    for (unsigned headerSize : {0u, 15u, 17u, 0xFFFFu}) {
        Bytes b = FullPackage();
        PutU16(b, 6, headerSize);
        EXPECT_EQ(Parse(b), ParseStatus::BadLayout) << headerSize;
    }
    for (unsigned entrySize : {0u, 4u, 12u, 0xFFFFu}) {
        Bytes b = FullPackage();
        PutU16(b, 10, entrySize);
        EXPECT_EQ(Parse(b), ParseStatus::BadLayout) << entrySize;
    }
}

TEST(SkinPackage, RefusesCountsAndSizesThatDoNotAddUp) {
    for (unsigned count : {0u, 65u, 0xFFFFu}) {
        Bytes b = FullPackage();
        PutU16(b, 8, count);
        EXPECT_EQ(Parse(b), ParseStatus::BadCount) << count;
    }
    {
        // A consistent header that promises more entries than the bytes hold.
        Bytes b = FullPackage();
        PutU16(b, 8, 64);
        PutU32(b, 12, 16 + 64 * 8);
        EXPECT_EQ(Parse(b), ParseStatus::TooShort);
    }
    for (std::uint32_t size : {0u, 16u, 16u + 3 * 8, 16u + 5 * 8, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes b = FullPackage();
        PutU32(b, 12, size);
        EXPECT_EQ(Parse(b), ParseStatus::BadLayout) << size;
    }
}

TEST(SkinPackage, RefusesBadEntries) {
    for (unsigned id : {0u, 5u, 0x8001u}) {
        EXPECT_EQ(Parse(MakePackage({{1, 0}, {2, 0}, {id, 0}})), ParseStatus::BadEntry) << id;
    }
    Bytes reserved = FullPackage();
    PutU16(reserved, 16 + 8 + 2, 1);
    EXPECT_EQ(Parse(reserved), ParseStatus::BadEntry);
    EXPECT_EQ(Parse(MakePackage({{1, 0x01FFFFFF}, {2, 0}})), ParseStatus::BadEntry);
    EXPECT_EQ(Parse(MakePackage({{1, 0}, {2, 0}, {1, 0x00FFFFFF}})), ParseStatus::DuplicateEntry);
    EXPECT_EQ(Parse(MakePackage({{1, 0}, {3, 0}, {4, 0}})), ParseStatus::MissingEntry);
    EXPECT_EQ(Parse(MakePackage({{2, 0}})), ParseStatus::MissingEntry);
}

// A small deterministic generator for the damaged-bytes runs.
struct Lcg {
    std::uint32_t state;
    std::uint32_t Next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

TEST(SkinPackage, RandomBytesAreRefusedAndDamagedEntriesNeverLeakBadColours) {
    Lcg rng{12345};
    for (int run = 0; run < 3000; ++run) {
        Bytes b(rng.Next() % 200);
        for (auto& byte : b) byte = static_cast<unsigned char>(rng.Next());
        EXPECT_NE(Parse(b), ParseStatus::Ok) << "run " << run;
    }
    // A good header over random entries: whatever the verdict, an accepted scheme holds only
    // plain RGB colours.
    int accepted = 0;
    for (int run = 0; run < 3000; ++run) {
        Bytes b = FullPackage();
        for (size_t at = 16; at < b.size(); ++at) {
            if (rng.Next() % 8 == 0) b[at] = static_cast<unsigned char>(rng.Next());
        }
        Scheme s{};
        if (ParsePackage(b.data(), b.size(), s) == ParseStatus::Ok) {
            ++accepted;
            for (std::uint32_t c : {s.dialogBack, s.dialogText, s.staticBack, s.staticText}) {
                EXPECT_EQ(c & 0xFF000000u, 0u);
            }
        }
    }
    EXPECT_GT(accepted, 0) << "the damage was too heavy to exercise the accepted path";
}

}  // namespace
