// The patcher as the updater links it, under Wine: patches that the native update-server made
// (with Debian's bsdiff) from real programs of this build give exactly the new program, checked
// with the updater's own SHA-256; damaged ones are refused.
#include <gtest/gtest.h>

#include <sstream>

#include "PatchDamage.h"
#include "PatchFormat.h"
#include "Sha256.h"
#include "TestSupport.h"

namespace {

PatchBytes ReadPairFile(const std::string& name, const wchar_t* kind) {
    const std::wstring path = testsupport::RunningProgramFolder() + L"\\patches\\" +
                              std::wstring(name.begin(), name.end()) + kind;
    std::string bytes;
    EXPECT_TRUE(testsupport::ReadFileBytes(path, bytes)) << name;
    return PatchBytes(bytes.begin(), bytes.end());
}

std::array<uint8_t, 32> DigestOf(const PatchBytes& bytes) {
    Sha256 hash;
    std::array<uint8_t, 32> digest{};
    EXPECT_TRUE(hash.Add(bytes.data(), static_cast<ULONG>(bytes.size())));
    EXPECT_TRUE(hash.Finish(digest));
    return digest;
}

std::vector<std::string> PairNames() {
    std::vector<std::string> names;
    std::istringstream list(PATCH_PAIR_NAMES);
    for (std::string name; std::getline(list, name, ',');) names.push_back(name);
    return names;
}

TEST(PatchApply, PatchesOfRealProgramsGiveExactlyTheNewProgram) {
    for (const std::string& name : PairNames()) {
        SCOPED_TRACE(name);
        const PatchBytes old = ReadPairFile(name, L".old");
        const PatchBytes next = ReadPairFile(name, L".new");
        const PatchBytes patch = ReadPairFile(name, L".qvpatch");
        PatchHeader header;
        ASSERT_TRUE(ReadPatchHeader(patch, header));
        EXPECT_EQ(header.oldSha256, DigestOf(old));
        EXPECT_EQ(header.newSize, next.size());
        PatchBytes made;
        ASSERT_EQ(ApplyInto(old, patch, made), PatchResult::Applied);
        EXPECT_EQ(DigestOf(made), header.newSha256);
        EXPECT_TRUE(made == next);
    }
}

TEST(PatchApply, DamagedPatchesAreRefused) {
    const PatchBytes old = ReadPairFile("updater", L".old");
    for (const DamagedPatch& damaged : DamagedPatches(old, ReadPairFile("updater", L".qvpatch"))) {
        PatchBytes made;
        EXPECT_EQ(ApplyInto(damaged.old, damaged.patch, made), damaged.expected) << damaged.name;
    }
}

}  // namespace
