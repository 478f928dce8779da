// Whether a body holds all that a program's headers say: made-up headers of every shape that
// matters, fed whole, cut and in chunks of every size, and this test program's own file as a
// linker wrote it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "BodyChecks.h"
#include "DownloadHarness.h"
#include "ProgramImage.h"
#include "Sha256.h"
#include "ProgramImages.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

ProgramImageProof Fed(const std::string& bytes, size_t chunk = 16384) {
    ProgramImageProof proof;
    for (size_t at = 0; at < bytes.size(); at += chunk)
        proof.Add(bytes.data() + at, std::min(chunk, bytes.size() - at));
    return proof;
}

}  // namespace

TEST(ProgramImage, TheHeadersSayWhereTheProgramEnds) {
    struct Case {
        const char* name;
        ImageShape shape;
        std::optional<uint64_t> end;  // nullopt: no body of any length is proven whole
    };
    const Case cases[] = {
        {"two sections", {.sections = {{0x400, 0x1000}, {0x1400, 0x800}}}, 0x1C00},
        {"sections out of order", {.sections = {{0x1400, 0x800}, {0x400, 0x1000}}}, 0x1C00},
        {"a section without file data", {.sections = {{0x400, 0x200}, {0x90000, 0}}}, 0x600},
        {"no sections: the headers", {}, 0x80 + 24 + 96 + 16 * 8},
        {"a certificate after the sections",
         {.sections = {{0x400, 0x1000}}, .certificateOffset = 0x1400, .certificateBytes = 0x300},
         0x1700},
        {"the same in a 64-bit program",
         {.sections = {{0x400, 0x1000}},
          .certificateOffset = 0x1400,
          .certificateBytes = 0x300,
          .magic = 0x20B},
         0x1700},
        {"too few directories for a certificate",
         {.sections = {{0x400, 0x1000}},
          .certificateOffset = 0x9000,
          .certificateBytes = 0x300,
          .directoryCount = 4},
         0x1400},
        {"the largest offsets do not wrap",
         {.sections = {{0xFFFFFFFF, 0xFFFFFFFF}}},
         0x1FFFFFFFEull},
        {"the signature beyond any head", {.signatureAt = 0xFFFFFFF0}, std::nullopt},
        {"symbols and their strings after the sections",
         {.sections = {{0x400, 0x1000}},
          .symbolTableOffset = 0x1400,
          .symbolCount = 10,
          .stringTableBytes = 0x40},
         0x1400 + 10 * 18 + 0x40},
        {"symbols far past the head",
         {.sections = {{0x400, 0x1000}},
          .symbolTableOffset = 0x20000,
          .symbolCount = 1000,
          .stringTableBytes = 0x1234},
         0x20000 + 1000 * 18 + 0x1234},
        {"a string table's length split by the head's end",
         {.sections = {{0x400, 0x1000}},
          .symbolTableOffset = kProgramHeadBytes - 2 - 3 * 18,
          .symbolCount = 3,
          .stringTableBytes = 0x10},
         kProgramHeadBytes - 2 + 0x10},
        {"a string table that gives less than its own length field",
         {.sections = {{0x400, 0x1000}},
          .symbolTableOffset = 0x1400,
          .symbolCount = 1,
          .stringTableBytes = 0},
         0x1400 + 18 + 4},
        {"symbols within the sections",
         {.sections = {{0x400, 0x10000}},
          .symbolTableOffset = 0x800,
          .symbolCount = 2,
          .stringTableBytes = 8},
         0x10400},
        {"symbols no body can reach",
         {.sections = {{0x400, 0x1000}},
          .symbolTableOffset = 0xFFFFFFFF,
          .symbolCount = 0xFFFFFFFF,
          .stringTableBytes = 4},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // As much of the body as a test can hold; the offsets past it matter only by value.
        const size_t fed = static_cast<size_t>(std::min<uint64_t>(c.end.value_or(0), 1 << 20));
        const ProgramImageProof proof = Fed(ImageBytes(c.shape, std::max(fed, size_t{0x400})));
        if (!c.end) {
            EXPECT_FALSE(proof.ProvenWhole(UINT64_MAX));
            continue;
        }
        EXPECT_TRUE(proof.HeadersKnown());
        EXPECT_TRUE(proof.ProvenWhole(*c.end));
        EXPECT_FALSE(proof.ProvenWhole(*c.end - 1));
        EXPECT_TRUE(proof.ProvenWhole(*c.end + 1000)) << "bytes past the end (an overlay)";
    }

    const std::string whole = ImageHead({.sections = {{0x400, 0x1000}}});
    std::string noSignature = whole;
    noSignature[0x80] = 'X';
    const std::string cutTable = whole.substr(0, 0x80 + 24 + 96 + 16 * 8 + 20);
    std::string tableTooFar = ImageHead({.signatureAt = kProgramHeadBytes - 0x80});
    tableTooFar.resize(kProgramHeadBytes + 0x1000, '\0');
    const std::pair<const char*, std::string> unreadable[] = {
        {"a DOS program", noSignature},
        {"a section table cut short", cutTable},
        {"a section table past the head", tableTooFar},
        {"shorter than a DOS header", "MZ"},
        {"nothing", ""},
    };
    for (const auto& [name, bytes] : unreadable) {
        const ProgramImageProof proof = Fed(bytes);
        EXPECT_FALSE(proof.HeadersKnown()) << name;
        EXPECT_FALSE(proof.ProvenWhole(UINT64_MAX)) << name;
        EXPECT_TRUE(proof.LooksLikeProgram()) << name;
    }
    for (const std::string& notMz :
         {"ZM" + whole.substr(2), std::string("<html>"), std::string("Z")}) {
        const ProgramImageProof proof = Fed(notMz);
        EXPECT_FALSE(proof.LooksLikeProgram()) << notMz.substr(0, 6);
        EXPECT_FALSE(proof.ProvenWhole(UINT64_MAX)) << notMz.substr(0, 6);
    }
}

// Chunks of every size, so that the string table's length arrives split every way: within
// one chunk, across two, one byte at a time, and across the end of the kept head.
TEST(ProgramImage, TheStringTablesLengthIsCaughtInChunksOfEverySize) {
    for (const size_t lengthAt : {kProgramHeadBytes - 2, kProgramHeadBytes + 7}) {
        const ImageShape shape{.sections = {{0x400, 0x1000}},
                               .symbolTableOffset = static_cast<uint32_t>(lengthAt - 4 * 18),
                               .symbolCount = 4,
                               .stringTableBytes = 0x23};
        const std::string bytes = ImageBytes(shape, lengthAt + 0x23);
        size_t failures = 0;
        for (size_t chunk = 1; chunk <= bytes.size(); ++chunk) {
            const ProgramImageProof proof = Fed(bytes, chunk);
            if (!proof.ProvenWhole(bytes.size()) || proof.ProvenWhole(bytes.size() - 1)) {
                if (++failures <= 5)
                    ADD_FAILURE() << "length at " << lengthAt << ", chunks of " << chunk;
            }
        }
        EXPECT_EQ(failures, 0u) << "length at " << lengthAt;

        // Cut inside the symbol table, inside the length, inside the strings.
        for (const size_t cut : {lengthAt - 20, lengthAt + 1, lengthAt + 4, bytes.size() - 1}) {
            EXPECT_FALSE(Fed(bytes.substr(0, cut), 1).ProvenWhole(cut)) << "cut at " << cut;
            EXPECT_FALSE(Fed(bytes.substr(0, cut)).ProvenWhole(cut)) << "cut at " << cut;
        }
    }
}

TEST(ProgramImage, ALinkersProgramIsProvenWholeAndNotWhenCut) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    EXPECT_TRUE(Fed(bytes).ProvenWhole(bytes.size()));
    EXPECT_TRUE(Fed(bytes, 4093).ProvenWhole(bytes.size()));
    EXPECT_FALSE(Fed(bytes.substr(0, bytes.size() - 1)).ProvenWhole(bytes.size() - 1))
        << "the string table, or the last section, ends the file";

    // Cut half-way through the symbols that the linker left past the sections.
    IMAGE_DOS_HEADER dos;
    IMAGE_FILE_HEADER file;
    std::memcpy(&dos, bytes.data(), sizeof(dos));
    std::memcpy(&file, bytes.data() + dos.e_lfanew + sizeof(DWORD), sizeof(file));
    ASSERT_NE(file.PointerToSymbolTable, 0u) << "a test program keeps its symbols";
    const size_t cut = file.PointerToSymbolTable + file.NumberOfSymbols * size_t{18} / 2;
    ASSERT_GT(cut, kProgramHeadBytes);
    ASSERT_LT(cut, bytes.size());
    EXPECT_FALSE(Fed(bytes.substr(0, cut)).ProvenWhole(cut));
}

// What the download asks of a whole body, fed in pieces as it arrives: a program, proven
// whole by its headers or by a length, and for a signed release the signed file.
TEST(BodyChecks, AProgramProvenWholeAndTheSignedFileOnly) {
    const std::string program = ImageBytes({.sections = {{0x400, 0x10000 - 0x400}}}, 0x10000);
    const std::string noHeaders = "MZ" + std::string(5000, 'x');
    const ExpectedFile signedFile = SignedFileOf(program);
    ExpectedFile otherFile = signedFile;
    otherFile.sha256[31] ^= 1;
    struct Case {
        const char* name;
        std::string body;
        bool announced;
        std::optional<ExpectedFile> expected;
        bool added, whole, rejected;
    };
    const Case cases[] = {
        {"a program", program, false, std::nullopt, true, true, false},
        {"a program cut short", program.substr(0, 0x8000), true, std::nullopt, true, false, false},
        {"an error page", "<html>not found</html>", true, std::nullopt, false, false, false},
        {"headers unread, a length announced", noHeaders, true, std::nullopt, true, true, false},
        {"headers unread, nothing announced", noHeaders, false, std::nullopt, true, false, false},
        {"the signed file", program, true, signedFile, true, true, false},
        {"not the signed file", program, true, otherFile, true, false, true},
    };
    for (const Case& c : cases) {
        BodyChecks checks(c.expected);
        checks.Add("ZZ", 2);  // a first body, started again from nothing
        checks.Restart();
        bool added = true;
        for (size_t at = 0; at < c.body.size(); at += 4096)
            added =
                checks.Add(c.body.data() + at, std::min<size_t>(4096, c.body.size() - at)) && added;
        EXPECT_EQ(added, c.added) << c.name;
        if (added) {
            EXPECT_EQ(checks.Whole(c.body.size(), c.announced), c.whole) << c.name;
        }
        EXPECT_EQ(checks.Rejected(), c.rejected) << c.name;
    }
}
