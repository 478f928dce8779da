// Where a download is written beside the program: a part that its record says is longer than
// it is, and things not ours (a folder, a file another handle holds) under the temporary
// names, against the tests' HTTP server on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DownloadHarness.h"
#include "DownloadRecord.h"
#include "PartRecord.h"
#include "ProgramImages.h"
#include "StagedFile.h"
#include "MountedFolder.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

const std::string kProgram = "/staged.exe";

// One section to the end, its bytes numbered so that a piece in the wrong place shows.
std::string NewProgram(size_t size) {
    std::string bytes =
        ImageBytes({.sections = {{0x400, static_cast<uint32_t>(size - 0x400)}}}, size);
    for (size_t i = 0x400; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return bytes;
}

// The names in a folder, sorted.
std::vector<std::wstring> Entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

enum class Kind { Folder, HeldFile };

// Something not ours under a name beside the program: a folder with a file in it, or a file
// held open by another handle that shares nothing (as another process would hold it). Gone
// with the object.
class Obstacle {
public:
    Obstacle(std::wstring path, Kind kind) : m_path(std::move(path)), m_kind(kind) {
        if (kind == Kind::Folder) {
            m_made = CreateDirectoryW(m_path.c_str(), nullptr) &&
                     WriteFileBytes(m_path + L"\\inside.txt", kContent);
            return;
        }
        m_made = WriteFileBytes(m_path, kContent);
        m_held = CreateFileW(m_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        m_made = m_made && m_held != INVALID_HANDLE_VALUE;
    }
    ~Obstacle() {
        if (m_held != INVALID_HANDLE_VALUE) CloseHandle(m_held);
        if (m_kind == Kind::Folder) {
            RemoveTree(m_path);
        } else {
            DeleteFileW(m_path.c_str());
        }
    }
    Obstacle(const Obstacle&) = delete;
    Obstacle& operator=(const Obstacle&) = delete;

    bool Made() const { return m_made; }
    // Still there, as it was made.
    bool Untouched() const {
        std::string content;
        if (m_kind == Kind::Folder)
            return IsFolder(m_path) && ReadFileBytes(m_path + L"\\inside.txt", content) &&
                   content == kContent;
        content.resize(kContent.size() + 1);
        DWORD got = 0;
        LARGE_INTEGER start{};
        return SetFilePointerEx(m_held, start, nullptr, FILE_BEGIN) &&
               ReadFile(m_held, content.data(), static_cast<DWORD>(content.size()), &got,
                        nullptr) &&
               content.substr(0, got) == kContent;
    }

private:
    inline static const std::string kContent = "not the updater's";
    std::wstring m_path;
    Kind m_kind;
    HANDLE m_held = INVALID_HANDLE_VALUE;
    bool m_made = false;
};

class Staging : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        StagedFile::RemoveLeftover(m_target);
    }
    // The part and the record under every temporary name (but `spared`, an obstacle).
    void ExpectNoPart(const char* name, const std::wstring& spared = L"") {
        for (int choice = 0; choice < StagedFile::kTemporaryNames; ++choice) {
            for (const std::wstring& path : {StagedFile::TemporaryPath(m_target, choice),
                                             StagedFile::RecordPath(m_target, choice)})
                EXPECT_TRUE(path == spared || !FileExists(path)) << name << ": " << choice;
        }
    }
    void ExpectInstalled(const char* name, const std::wstring& spared = L"") {
        std::string now;
        ASSERT_TRUE(ReadFileBytes(m_target, now)) << name;
        EXPECT_TRUE(now == m_new) << name << ": the new program is not in place";
        ExpectNoPart(name, spared);
    }
    // Runs the download on a slow link and stops it a fifth of the way: the part stays.
    DownloadRun RunStoppedPartWay() {
        Server().Script(kProgram, {.headers = {kEtag},
                                   .body = m_new,
                                   .behaviour = Behaviour::Slow,
                                   .pieceBytes = 4096,
                                   .intervalMs = 50});
        return RunDownload(
            Url(kProgram), m_target,
            [](const std::vector<int>& notices, DWORD) {
                return !notices.empty() && notices.back() >= 20;
            },
            kQuickTries);
    }
    DownloadRun RunWhole() {
        Server().Script(kProgram, {.headers = {kEtag}, .body = m_new, .ranges = true});
        Server().ClearRequests();
        return RunDownload(Url(kProgram), m_target, {}, kQuickTries);
    }

    TempDir m_folder{L"暂存 测试"};
    std::wstring m_target = m_folder.File(L"Tanvik体验版.exe");
    std::string m_old = "MZ the program before";
    std::string m_new = NewProgram(200000);
};

}  // namespace

// A part cut short after its record was written (or a record that says more than the part
// holds) cannot be taken up: it goes, and the whole file comes again in the same run.
TEST_F(Staging, APartShorterThanItsRecordIsDroppedAndTheFileDownloadedAgain) {
    struct Case {
        const char* name;
        size_t partBytes;
        uint64_t recorded;
    };
    const Case cases[] = {
        {"shorter", 50000, 80000},
        {"empty", 0, 80000},
        {"one byte short", 199999, 200000},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        ASSERT_TRUE(
            WriteFileBytes(StagedFile::TemporaryPath(m_target), m_new.substr(0, c.partBytes)));
        DownloadRecord record;
        record.address = Url(kProgram);
        record.version = kQuickTries.version;
        record.validator = L"\"v1\"";
        record.total = m_new.size();
        record.written = c.recorded;
        ASSERT_TRUE(SaveDownloadRecord(StagedFile::RecordPath(m_target), record));

        const DownloadRun run = RunWhole();
        EXPECT_EQ(run.result, 0) << c.name;
        EXPECT_EQ(run.resumed, 0) << c.name;
        ExpectInstalled(c.name);
        const std::vector<ReceivedRequest> requests = RequestsFor(kProgram);
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_FALSE(requests[0].HasHeader("Range")) << c.name;
    }
}

// A folder or a held file under the fixed names would block every update: the part goes under
// the next name instead, is found there by the next run while the obstacle stays, and the
// obstacle is never touched.
TEST_F(Staging, SomethingNotOursUnderTheFixedNamesIsLeftAloneAndAnotherNameUsed) {
    struct Case {
        const char* name;
        std::wstring path;
        Kind kind;
    };
    const Case cases[] = {
        {"the part's name is a folder", StagedFile::TemporaryPath(m_target), Kind::Folder},
        {"the record's name is a folder", StagedFile::RecordPath(m_target), Kind::Folder},
        {"the part's name is a held file", StagedFile::TemporaryPath(m_target), Kind::HeldFile},
    };
    const std::wstring secondPart = StagedFile::TemporaryPath(m_target, 1);
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        const Obstacle obstacle(c.path, c.kind);
        ASSERT_TRUE(obstacle.Made()) << c.name;
        EXPECT_EQ(StagedFile::CheckStaging(m_target), StagedFile::Staging::Possible) << c.name;

        EXPECT_EQ(RunStoppedPartWay().result, 0) << c.name;
        EXPECT_TRUE(obstacle.Untouched()) << c.name;
        EXPECT_TRUE(FileExists(StagedFile::RecordPath(m_target, 1))) << c.name;
        std::string part;
        EXPECT_TRUE(ReadFileBytes(secondPart, part) && !part.empty()) << c.name << ": no part";
        EXPECT_TRUE(m_new.compare(0, part.size(), part) == 0) << c.name;

        const DownloadRun next = RunWhole();
        EXPECT_EQ(next.result, 0) << c.name;
        EXPECT_EQ(next.resumed, 1) << c.name;
        ExpectInstalled(c.name, c.path);
        EXPECT_TRUE(obstacle.Untouched()) << c.name;
        const std::vector<ReceivedRequest> requests = RequestsFor(kProgram);
        EXPECT_EQ(requests.size(), 1u) << c.name;
        const std::string range = requests.empty() ? "" : requests[0].Header("Range");
        EXPECT_EQ(range, "bytes=" + std::to_string(part.size()) + "-") << c.name;
    }
}

// Asked before the program is ended. Wine as root ignores the mode bits: a read-only mount
// stands for a folder that refuses a standard account.
TEST_F(Staging, TheCheckBeforeTheKillProvesThatATemporaryFileCanBeMadeAndRenamed) {
    MountedFolder mount(Server());
    const std::wstring readOnlyTarget = mount.File(L"Tanvik体验版.exe");
    ASSERT_TRUE(WriteFileBytes(readOnlyTarget, m_old));
    mount.MakeReadOnly();
    std::vector<std::wstring> everyPart, everyRecord;
    for (int choice = 0; choice < StagedFile::kTemporaryNames; ++choice) {
        everyPart.push_back(StagedFile::TemporaryPath(m_target, choice));
        everyRecord.push_back(StagedFile::RecordPath(m_target, choice));
    }
    struct Case {
        const char* name;
        std::vector<std::wstring> folders;
        std::string keptPart;  // a part of ours under the fixed name, when not empty
        std::wstring target;
        StagedFile::Staging staging;
    };
    using enum StagedFile::Staging;
    const Case cases[] = {
        {"nothing there", {}, "", m_target, Possible},
        {"a part of ours", {}, "MZ a part", m_target, Possible},
        {"the fixed name taken", {everyPart[0]}, "", m_target, Possible},
        {"every name taken", everyPart, "", m_target, Blocked},
        {"every record's name taken", everyRecord, "", m_target, Blocked},
        {"no such folder", {}, "", m_folder.File(L"没有\\Tanvik体验版.exe"), Blocked},
        {"a read-only folder", {}, "", readOnlyTarget, NeedsRights},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<Obstacle>> obstacles;
        for (const std::wstring& folder : c.folders) {
            obstacles.push_back(std::make_unique<Obstacle>(folder, Kind::Folder));
            ASSERT_TRUE(obstacles.back()->Made()) << c.name;
        }
        if (!c.keptPart.empty()) {
            ASSERT_TRUE(WriteFileBytes(StagedFile::TemporaryPath(m_target), c.keptPart));
        }
        const std::vector<std::wstring> before = Entries(m_folder.Path());

        EXPECT_EQ(StagedFile::CheckStaging(c.target), c.staging) << c.name;
        EXPECT_EQ(Entries(m_folder.Path()), before) << c.name << ": something was left or taken";
        for (const auto& obstacle : obstacles) EXPECT_TRUE(obstacle->Untouched()) << c.name;
        std::string part;
        if (!c.keptPart.empty()) {
            EXPECT_TRUE(ReadFileBytes(StagedFile::TemporaryPath(m_target), part) &&
                        part == c.keptPart)
                << c.name;
        }
        StagedFile::RemoveLeftover(m_target);
    }
}

// A part's record is saved, after the part, only once the part could be resumed from it, and
// goes when the body starts again.
TEST_F(Staging, APartsRecordIsSavedOnlyForAPartThatCanBeResumed) {
    struct Case {
        const char* name;
        std::wstring validator;
        uint64_t total;
        DWORD written;
        bool saved;
    };
    const Case cases[] = {
        {"resumable", L"\"v1\"", 1000, 10, true},
        {"nothing names the file", L"", 1000, 10, false},
        {"no length", L"\"v1\"", 0, 10, false},
        {"nothing written", L"\"v1\"", 1000, 0, false},
    };
    for (const Case& c : cases) {
        StagedFile file(m_target);
        ASSERT_TRUE(file.Open()) << c.name;
        DownloadRecord record;
        PartRecord part(file, record);
        part.Begin(c.validator, c.total);
        ASSERT_TRUE(file.Write(m_new.data(), c.written)) << c.name;
        part.Written(c.written);
        part.Save();
        EXPECT_EQ(part.Saved(), c.saved) << c.name;
        DownloadRecord loaded;
        EXPECT_EQ(LoadDownloadRecord(file.Record(), loaded), c.saved) << c.name;
        EXPECT_EQ(loaded.written, c.saved ? c.written : 0) << c.name;
        part.Drop();
        EXPECT_FALSE(part.Saved() || FileExists(file.Record())) << c.name;
        file.Discard();
    }
}
