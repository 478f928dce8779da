// KillProcessByName against real processes: a program that keeps running, copied under the
// main program's name into two installations (folders with Chinese characters and a blank),
// started twice from the first and once from the second, and once more under a name that
// differs only in letter case. Only the processes of the file being replaced are ended,
// however its path is spelled.
#include <gtest/gtest.h>

#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "KillProcess.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

// The name that the updater passes: GBK bytes, as the updater has it.
const char kMainProgramName[] = "Tanvik体验版.exe";
const wchar_t kFileName[] = L"Tanvik体验版.exe";
const wchar_t kOtherCaseFileName[] = L"tanvik体验版.exe";

// A program that runs until it is ended (five minutes at most) and shows no window.
std::wstring KeepsRunning() {
    return RunningProgramFolder() + L"\\fixtures\\edition_trial_1_0_0_1.exe";
}

// The file name that the process list gives for a process; empty if it is not listed.
std::wstring ListedName(DWORD processId) {
    std::wstring name;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return name;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && name.empty();
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == processId) name = entry.szExeFile;
    }
    CloseHandle(snapshot);
    return name;
}

// True once the started process is listed under its file's name and its image can be read,
// as KillProcessByName will look at it.
bool WaitUntilListed(const ChildProcess& process, const std::wstring& name) {
    for (int tries = 0; tries < 200; ++tries) {
        wchar_t image[MAX_PATH * 2];
        DWORD length = MAX_PATH * 2;
        if (ListedName(process.Id()) == name &&
            QueryFullProcessImageNameW(process.Handle(), 0, image, &length))
            return true;
        Sleep(50);
    }
    return false;
}

std::wstring UpperCase(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring ShortPath(const std::wstring& path) {
    wchar_t shortPath[MAX_PATH * 2] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(shortPath, length) : L"";
}

std::wstring LeafOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// The running copies, by where they run from.
enum Copy { kFirstOfA, kSecondOfA, kOfB, kOtherCaseName, kCopies };
const char* const kCopyNames[kCopies] = {"folder A's first copy", "folder A's second copy",
                                         "folder B's copy", "the copy named in other case"};

class KillProcess : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_a.Path().empty());
        ASSERT_FALSE(m_b.Path().empty());
        ASSERT_FALSE(m_c.Path().empty());
        ASSERT_FALSE(m_empty.Path().empty());
        ASSERT_TRUE(CopyFileTo(KeepsRunning(), m_a.File(kFileName)));
        ASSERT_TRUE(CopyFileTo(KeepsRunning(), m_b.File(kFileName)));
        ASSERT_TRUE(CopyFileTo(KeepsRunning(), m_c.File(kOtherCaseFileName)));
        m_files[kFirstOfA] = m_files[kSecondOfA] = m_a.File(kFileName);
        m_files[kOfB] = m_b.File(kFileName);
        m_files[kOtherCaseName] = m_c.File(kOtherCaseFileName);
    }
    // Starts each copy that does not run (any more).
    void StartMissingCopies() {
        for (int copy = 0; copy < kCopies; ++copy) {
            if (m_running[copy] && !m_running[copy]->WaitForExit(0)) continue;
            m_running[copy] = std::make_unique<ChildProcess>();
            ASSERT_TRUE(m_running[copy]->Start(m_files[copy])) << kCopyNames[copy];
            ASSERT_TRUE(WaitUntilListed(*m_running[copy], LeafOf(m_files[copy])))
                << kCopyNames[copy] << " is not listed as running";
        }
    }

    TempDir m_a{L"安装 甲"};
    TempDir m_b{L"安装 乙"};
    TempDir m_c{L"安装 丙"};
    TempDir m_empty{L"安装 丁"};
    std::wstring m_files[kCopies];
    // Last, so that the copies are ended before their folders go.
    std::unique_ptr<ChildProcess> m_running[kCopies];
};

}  // namespace

TEST_F(KillProcess, EndsOnlyTheProcessesOfTheFileBeingReplaced) {
    const std::wstring fileOfA = m_a.File(kFileName);
    const std::wstring shortOfA = ShortPath(fileOfA);
    ASSERT_FALSE(shortOfA.empty());
    struct Case {
        const char* what;
        std::wstring image;  // the file being replaced, as the caller spells it
        std::vector<Copy> ended;
    };
    const Case cases[] = {
        {"folder A's file", fileOfA, {kFirstOfA, kSecondOfA}},
        {"folder A's file in upper case", UpperCase(fileOfA), {kFirstOfA, kSecondOfA}},
        {"folder A's file through . and ..",
         m_a.Path() + L"\\..\\" + LeafOf(m_a.Path()) + L"\\.\\" + kFileName,
         {kFirstOfA, kSecondOfA}},
        {"folder A's file with the \\\\?\\ prefix", L"\\\\?\\" + fileOfA, {kFirstOfA, kSecondOfA}},
        {"folder A's file by its short name", shortOfA, {kFirstOfA, kSecondOfA}},
        {"folder B's file", m_b.File(kFileName), {kOfB}},
        // Its process is listed as "tanvik体验版.exe": the name asked for differs in case.
        {"the file whose name differs in case", m_c.File(kOtherCaseFileName), {}},
        // It cannot be opened: the full paths are compared, and none is its.
        {"a file that is not there", m_empty.File(kFileName), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(StartMissingCopies());
        KillProcessByName(kMainProgramName, c.image);
        for (Copy copy : c.ended) {
            EXPECT_TRUE(m_running[copy]->WaitForExit(10000)) << kCopyNames[copy] << " still runs";
            EXPECT_EQ(m_running[copy]->ExitCode(), 0u) << kCopyNames[copy];
        }
        // Ending is not waited for: a process ended by mistake is given time to be gone.
        Sleep(500);
        for (int copy = 0; copy < kCopies; ++copy) {
            if (std::find(c.ended.begin(), c.ended.end(), copy) != c.ended.end()) continue;
            EXPECT_FALSE(m_running[copy]->WaitForExit(0)) << kCopyNames[copy] << " was ended";
        }
    }
}
