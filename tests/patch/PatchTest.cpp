// The delta patches as the server makes them: `update-server patch` (the real program, running
// Debian's bsdiff) on pairs of real programs and of generated files, applied by the patcher the
// updater links; and patches that must be refused.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "PatchDamage.h"
#include "PatchFormat.h"
#include "PatchMaker.h"
#include "Sha256.h"

namespace fs = std::filesystem;

namespace {

PatchBytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return PatchBytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const PatchBytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::string Hex(const std::array<uint8_t, 32>& digest) {
    std::string hex;
    for (uint8_t byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

// `update-server patch OLD NEW OUT`: its exit status and what it printed.
int RunPatchCommand(const std::string& operands, std::string& output) {
    const std::string command = std::string(UPDATE_SERVER_PROGRAM) + " patch " + operands + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[256];
    output.clear();
    while (pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    const int status = pipe == nullptr ? -1 : pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A 3 MiB program-like file and its next version: code shifted by an insertion and a removal,
// and addresses changed all over a part of it, as a rebuilt program changes.
void MakeGeneratedPair(const fs::path& oldFile, const fs::path& newFile) {
    std::mt19937 random(29);
    PatchBytes old(3 << 20);
    for (size_t i = 0; i < old.size(); i += 4) old[i] = static_cast<uint8_t>(random() % 16);
    PatchBytes next = old;
    next.insert(next.begin() + 100'000, 4096, 0x90);
    next.erase(next.begin() + 1'000'000, next.begin() + 1'010'000);
    for (size_t i = 2'000'000; i < 2'500'000; i += 4096) next[i] += 3;
    WriteBytes(oldFile, old);
    WriteBytes(newFile, next);
}

struct Pair {
    std::string name;
    fs::path old;
    fs::path next;
    double largestShare;  // of the new file, in per cent
};

class Patches : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "patch-test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        s_folder = pattern;
        MakeGeneratedPair(s_folder / "generated.old", s_folder / "generated.new");
        WriteBytes(s_folder / "empty", {});
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    static Pair Generated() {
        return {"generated", s_folder / "generated.old", s_folder / "generated.new", 3};
    }

    // Makes the pair's patch with the real program, once a suite; empty on a failure.
    static PatchBytes MakeWithCommand(const Pair& pair) {
        std::string file = pair.name;
        std::replace(file.begin(), file.end(), ' ', '-');
        const fs::path out = s_folder / (file + ".qvpatch");
        if (fs::exists(out)) return ReadBytes(out);
        std::string output;
        const int status = RunPatchCommand(
            pair.old.string() + " " + pair.next.string() + " " + out.string(), output);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find(" bytes, "), std::string::npos) << output;
        return ReadBytes(out);
    }

    static fs::path s_folder;
};
fs::path Patches::s_folder;

const fs::path kFixtures = FIXTURE_DIR;

TEST_F(Patches, RealProgramsAndGeneratedFilesPatchToExactlyTheNewFile) {
    const Pair pairs[] = {
        {"version resource", kFixtures / "v2_0_1_5.exe", kFixtures / "v2_0_2_0.exe", 2},
        {"other version", kFixtures / "v1_0_10_0.exe", kFixtures / "v65535_0_65535_1.exe", 2},
        {"unversioned to versioned", kFixtures / "unversioned.exe", kFixtures / "v2_0_1_5.exe", 50},
        {"server program to itself", UPDATE_SERVER_PROGRAM, UPDATE_SERVER_PROGRAM, 1},
        Generated(),
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.name);
        const PatchBytes patch = MakeWithCommand(pair);
        const PatchBytes next = ReadBytes(pair.next);
        PatchHeader header;
        ASSERT_TRUE(ReadPatchHeader(patch, header));
        EXPECT_EQ(header.newSize, next.size());
        EXPECT_EQ(Hex(header.oldSha256), vendor::FileSha256(pair.old));
        EXPECT_EQ(Hex(header.newSha256), vendor::FileSha256(pair.next));
        EXPECT_LE(double(patch.size()), pair.largestShare / 100 * double(next.size()) + 200);
        PatchBytes made;
        ASSERT_EQ(ApplyInto(ReadBytes(pair.old), patch, made), PatchResult::Applied);
        EXPECT_TRUE(made == next);
    }
}

TEST_F(Patches, DamagedPatchesAndWrongOldFilesAreRefused) {
    const PatchBytes old = ReadBytes(s_folder / "generated.old");
    const PatchBytes patch = MakeWithCommand(Generated());
    for (const DamagedPatch& damaged : DamagedPatches(old, patch)) {
        PatchBytes made;
        EXPECT_EQ(ApplyInto(damaged.old, damaged.patch, made), damaged.expected) << damaged.name;
    }
    // Another old file of the same size: only the caller's digests can tell, and they do.
    PatchBytes other = old;
    other[5] ^= 1;
    PatchHeader header;
    ASSERT_TRUE(ReadPatchHeader(patch, header));
    WriteBytes(s_folder / "other.old", other);
    EXPECT_NE(Hex(header.oldSha256), vendor::FileSha256(s_folder / "other.old"));
    PatchBytes made;
    if (ApplyInto(other, patch, made) == PatchResult::Applied) {
        WriteBytes(s_folder / "other.new", made);
        EXPECT_NE(Hex(header.newSha256), vendor::FileSha256(s_folder / "other.new"));
    }
}

TEST_F(Patches, TheNewFileGoesOutInBoundedPiecesAndAFailedWriteStops) {
    const PatchBytes patch = MakeWithCommand(Generated());
    const PatchBytes old = ReadBytes(s_folder / "generated.old");
    size_t pieces = 0;
    size_t largest = 0;
    const auto counting = [&](const uint8_t*, size_t size) {
        largest = std::max(largest, size);
        return ++pieces < 2;
    };
    EXPECT_EQ(ApplyPatch(old, patch, counting), PatchResult::WriteFailed);
    EXPECT_EQ(pieces, 2u);
    EXPECT_EQ(largest, kPatchWritePiece);
    const auto throwing = [](const uint8_t*, size_t) -> bool { throw std::runtime_error("disk"); };
    EXPECT_EQ(ApplyPatch(old, patch, throwing), PatchResult::WriteFailed);
}

TEST_F(Patches, TheEncoderRefusesWhatItCannotDoAndLeavesNothing) {
    const std::string generated = (s_folder / "generated.new").string();
    const std::string old = (s_folder / "generated.old").string();
    const fs::path out = s_folder / "refused" / "out.qvpatch";
    fs::create_directories(out.parent_path());
    std::atomic<bool> stopped{true};
    struct Case {
        std::string name, old, next;
        vendor::PatchLimits limits;
        std::string said;
    } cases[] = {
        {"no old file", old + ".missing", generated, {}, "not a readable file"},
        {"a folder", old, s_folder.string(), {}, "not a readable file"},
        {"an empty file", (s_folder / "empty").string(), generated, {}, "empty"},
        {"over the size cap", old, generated, {.largestInput = 1 << 20}, "over the 1048576 bytes"},
        {"out of time", old, generated, {.timeLimit = std::chrono::milliseconds(0)}, "took longer"},
        {"server ending", old, generated, {.stop = &stopped}, "stopped"},
    };
    for (const Case& refused : cases) {
        std::string error;
        EXPECT_FALSE(
            vendor::MakePatch(refused.old, refused.next, out.string(), error, refused.limits))
            << refused.name;
        EXPECT_NE(error.find(refused.said), std::string::npos) << refused.name << ": " << error;
        EXPECT_TRUE(fs::is_empty(out.parent_path())) << refused.name;
    }
    std::string output;
    EXPECT_EQ(RunPatchCommand(old, output), 2);
    EXPECT_NE(output.find("OLD, NEW and OUT expected"), std::string::npos) << output;
}

}  // namespace
