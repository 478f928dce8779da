// How long a program's headers say it is: made-up headers of every shape that matters, and
// this test program's own file as a linker wrote it.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "ProgramImage.h"
#include "ProgramImages.h"
#include "TestSupport.h"

using namespace testsupport;

TEST(ProgramImage, TheHeadersSayWhereTheProgramEnds) {
    struct Case {
        const char* name;
        ImageShape shape;
        std::optional<uint64_t> end;
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
    };
    for (const Case& c : cases) EXPECT_EQ(ProgramImageEnd(ImageHead(c.shape)), c.end) << c.name;

    const std::string whole = ImageHead({.sections = {{0x400, 0x1000}}});
    std::string noSignature = whole;
    noSignature[0x80] = 'X';
    const std::string cutTable = whole.substr(0, 0x80 + 24 + 96 + 16 * 8 + 20);
    const std::pair<const char*, std::string> untold[] = {
        {"a DOS program", noSignature},
        {"a section table past the head", cutTable},
        {"not MZ", "ZM" + whole.substr(2)},
        {"shorter than a DOS header", "MZ"},
    };
    for (const auto& [name, head] : untold) EXPECT_EQ(ProgramImageEnd(head), std::nullopt) << name;
}

TEST(ProgramImage, ALinkersProgramIsNoShorterThanItsHeadersSay) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes));
    const std::optional<uint64_t> end = ProgramImageEnd(bytes.substr(0, kProgramHeadBytes));
    ASSERT_TRUE(end.has_value());
    EXPECT_LE(*end, bytes.size());
    EXPECT_GT(*end, bytes.size() / 4);  // its sections, not only its headers
}
