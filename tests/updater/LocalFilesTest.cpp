// The main product's files beside the updater, and their file versions.
#include <gtest/gtest.h>

#include "CodePage.h"
#include "LocalFiles.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {
std::wstring Fixture(const std::wstring& name) {
    return RunningProgramFolder() + L"\\fixtures\\" + name;
}
}  // namespace

TEST(FileVersion, ReadsTheFixedFileVersionOnly) {
    EXPECT_EQ(GetFileVersionString(Fixture(L"versioned_3_0_12_7.exe")), "3.0.12.7");
    EXPECT_EQ(GetFileVersionString(Fixture(L"versioned_0_0_0_0.exe")), "0.0.0.0");
    EXPECT_EQ(GetFileVersionString(Fixture(L"versioned_65535_65535_65535_65535.exe")),
              "65535.65535.65535.65535");
}

TEST(FileVersion, EmptyWithoutVersionOrFile) {
    EXPECT_EQ(GetFileVersionString(Fixture(L"LocalFilesProbe.exe")), "");  // no version resource
    EXPECT_EQ(GetFileVersionString(Fixture(L"no such program.exe")), "");
    EXPECT_EQ(GetFileVersionString(L""), "");
    TempDir folder;
    const std::wstring notAProgram = folder.File(L"Tanvik体验版.exe");
    ASSERT_TRUE(WriteFileBytes(notAProgram, "MZ but not really a program"));
    EXPECT_EQ(GetFileVersionString(notAProgram), "");
}

TEST(ModuleDir, FolderOfTheRunningProgramPlusSuffix) {
    EXPECT_EQ(GetModuleDir(L"\\Tanvik商业版.exe"), RunningProgramFolder() + L"\\Tanvik商业版.exe");
    EXPECT_EQ(GetModuleDir(L""), RunningProgramFolder());
}

// A folder whose name has Chinese characters and blanks, and a working folder elsewhere.
TEST(ModuleDir, WorksFromAChineseFolderWithBlanks) {
    TempDir folder(L"更新 测试 目录");
    ASSERT_TRUE(CopyFileTo(Fixture(L"LocalFilesProbe.exe"), folder.File(L"updater.exe")));
    ASSERT_TRUE(CopyFileTo(Fixture(L"versioned_3_0_12_7.exe"), folder.File(L"Tanvik体验版.exe")));
    TempDir elsewhere;
    ChildProcess probe;
    ASSERT_TRUE(probe.Start(folder.File(L"updater.exe"), L"", elsewhere.Path()));
    ASSERT_TRUE(probe.WaitForExit(30000));
    EXPECT_EQ(probe.ExitCode(), 0u);

    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(folder.File(L"probe-result.txt"), bytes));
    const std::wstring result(reinterpret_cast<const wchar_t*>(bytes.data()),
                              bytes.size() / sizeof(wchar_t));
    EXPECT_EQ(result, folder.File(L"Tanvik体验版.exe") + L"\n3.0.12.7");
}
