// Whole updates with the real updater.exe, in a folder whose name has Chinese characters and a
// blank, against the tests' HTTP server: what the log says, where the stage bar ends, which
// programs run, and what is on disk afterwards.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "InstallId.h"
#include "MountedFolder.h"
#include "RecordText.h"
#include "Sha256.h"
#include "StagedFile.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "UserDownloads.h"
#include "resource_ids.h"

using namespace testsupport;

namespace {

const wchar_t kConnecting[] = L"* 正在连接更新列表…";
const wchar_t kConnectFailed[] = L"* 连接更新列表失败…";
const wchar_t kConnected[] = L"* 连接更新列表成功…";
const wchar_t kListFailed[] = L"* 获取远程列表失败,请检查您的网络!";
const wchar_t kAnalysed[] = L"* 分析更新列表完毕…";
const wchar_t kUpToDate[] = L"* 您当前已是最新版本，不需要更新!";
const wchar_t kDownloading[] = L"* 发现新版本,正在下载最新版本!…";
const wchar_t kFailed[] = L"* 自动更新失败,请重试或选择手动更新!";
const wchar_t kStopped[] = L"* 用户执行了停止更新操作…!";
const wchar_t kSucceeded[] = L"* 自动更新成功,正在启动主程序…!";
const wchar_t kResumed[] = L"* 正在继续上次未完成的下载…";
const wchar_t kAskingRights[] = L"* 正在请求管理员权限以安装新版本…";
const wchar_t kPatchBegun[] = L"* 正在下载增量更新…";
const wchar_t kPatchFailed[] = L"* 增量更新未能使用,正在下载完整更新…";
const wchar_t kStepCannotWrite[] = L"* 安装新版本失败(错误 25),已保留当前版本!";
const std::string kCheck = "/freeUpdate/isweb.asp";
const std::string kList = "/freeUpdate/update.asp?action=Auto";

std::wstring Fixture(const std::wstring& name) {
    return RunningProgramFolder() + L"\\fixtures\\" + name;
}

// The run's lines. The information loader starts beside the run, and its two lines land
// before or after the run empties the panel: they are left out.
std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    for (size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2) {
        const std::wstring line = text.substr(at, end - at);
        if (line != L"* 获取用户版本信息完成…!" && line != L"* 获取手动下载信息完成…!")
            lines.push_back(line);
    }
    return lines;
}

// A folder's entries with their sizes and times of writing, sorted.
std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> entries;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        entries.push_back(std::wstring(entry.cFileName) + L" " +
                          std::to_wstring(entry.nFileSizeLow) + L" " +
                          std::to_wstring(entry.ftLastWriteTime.dwLowDateTime));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(entries.begin(), entries.end());
    return entries;
}

class UpdateRun : public testing::Test {
protected:
    void SetUp() override {
        m_server.Reset();
        ASSERT_TRUE(ReadFileBytes(Fixture(L"edition_trial_1_0_0_1.exe"), m_oldBytes));
        ASSERT_TRUE(ReadFileBytes(Fixture(L"edition_trial_1_0_0_2.exe"), m_newBytes));
        ASSERT_NO_FATAL_FAILURE(InstallIn(m_folder.Path()));
        m_server.Script("/freeUpdate/update.asp?action=Hand", {.body = "http://127.0.0.1/"});
    }
    // Lays out an installation (the updater, its skin, both editions) in `folder`, which Path()
    // names from now on, and starts its trial edition.
    void InstallIn(const std::wstring& folder,
                   const wchar_t* trialEdition = L"edition_trial_1_0_0_1.exe") {
        m_installFolder = folder;
        m_installed = Path(L"Tanvik体验版.exe");
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(CopyFileTo(RunningProgramFolder() + L"\\" + SiteFolder() + L"\\updater.exe",
                               Path(L"updater.exe")));
        ASSERT_TRUE(CopyFileTo(BuiltProgramPath(L"SkinHu.dll"), Path(L"SkinHu.dll")));
        ASSERT_TRUE(CopyFileTo(Fixture(trialEdition), m_installed));
        ASSERT_TRUE(CopyFileTo(Fixture(L"edition_commercial.exe"), Path(L"Tanvik商业版.exe")));
        ASSERT_TRUE(StartTrial());
    }

    std::wstring Path(const std::wstring& name) const { return m_installFolder + L"\\" + name; }
    // The folder of the test build of updater.exe to install.
    virtual std::wstring SiteFolder() const { return L"testsite"; }

    // Serves an offer of version 1.0.0.2 at /new.exe.
    void OfferNewVersion(const Reply& download) {
        m_server.Script(kCheck, {.body = "true\r\n"});
        m_server.Script(kList, {.body = OfferRecord()});
        m_server.Script("/new.exe", download);
    }
    virtual std::string OfferRecord() const {
        return "#1.0.0.2#" + m_server.BaseUrl() + "new.exe#\r\n";
    }
    int DownloadRequests() {
        const std::vector<ReceivedRequest> requests = m_server.Requests();
        return static_cast<int>(std::count_if(requests.begin(), requests.end(), [](const auto& r) {
            return r.target == "/new.exe";
        }));
    }
    // Lays out an installation on a read-only mount: a per-machine installation as a standard
    // account meets it, which stops Wine's root too.
    void InstallReadOnly() {
        m_mount = std::make_unique<MountedFolder>(m_server);
        ASSERT_NO_FATAL_FAILURE(InstallIn(m_mount->File(L"更新 测试")));
        m_mount->MakeReadOnly();
        m_userTarget = UserDownloadTarget(m_installed);
        ASSERT_FALSE(m_userTarget.empty());
    }
    void TearDown() override {
        if (m_userTarget.empty()) return;
        StagedFile::RemoveLeftover(m_userTarget);
        RemoveDirectoryW(m_userTarget.substr(0, m_userTarget.rfind(L'\\')).c_str());
    }
    // The per-machine update once more, where the step can write but the updater's own check
    // could not: the download's last bytes wait until the test has made the folder writable.
    void InstallPerMachineOnceWritable() {
        ASSERT_NO_FATAL_FAILURE(InstallReadOnly());
        const std::size_t heldBack = m_newBytes.size() - 100;
        OfferNewVersion({.headers = {{"ETag", "\"v1\""}},
                         .body = m_newBytes,
                         .behaviour = Behaviour::StallAfter,
                         .afterBytes = heldBack,
                         .stallSeconds = 120,
                         .faultyReplies = 1,
                         .ranges = true});
        ASSERT_TRUE(Start(L"AutoUpdate"));
        const std::wstring part = StagedFile::TemporaryPath(m_userTarget);
        ASSERT_TRUE(Watch(
            [&] {
                WIN32_FILE_ATTRIBUTE_DATA data{};
                return GetFileAttributesExW(part.c_str(), GetFileExInfoStandard, &data) &&
                       data.nFileSizeLow == heldBack;
            },
            30000));
        EXPECT_TRUE(HasLine(kDownloading));
        EXPECT_FALSE(m_trial->WaitForExit(0)) << "the trial edition was ended before the step";
        m_mount->MakeWritable();
        m_server.EndStalls();
        ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
        EXPECT_TRUE(HasLine(kAskingRights));
        EXPECT_TRUE(m_trial->WaitForExit(5000)) << "the step did not end the trial edition";
        std::string now;
        ASSERT_TRUE(ReadFileBytes(m_installed, now));
        EXPECT_TRUE(now == m_newBytes) << "the new version is not in place";
        for (int i = 0; i < 100 && !FileExists(Path(L"commercial-started.txt")); ++i) Sleep(50);
        EXPECT_TRUE(FileExists(Path(L"commercial-started.txt")));
        EXPECT_FALSE(FileExists(part)) << "the user's copy stayed";
    }

    bool StartTrial() {
        m_trial = std::make_unique<ChildProcess>();
        return m_trial->Start(m_installed);
    }
    bool Start(const wchar_t* mode) {
        m_updater = std::make_unique<ChildProcess>();
        m_log.clear();
        if (!m_updater->Start(Path(L"updater.exe"), mode)) return false;
        m_dialog = WaitForWindow(
            m_updater->Id(),
            [](HWND w) { return IsWindowVisible(w) && WindowClass(w) == L"#32770"; }, 30000);
        return m_dialog != nullptr;
    }
    HWND Item(int id) const { return FindChildById(m_dialog, id); }

    // Watches the log panel until done() holds or the updater exits; the last text seen stays
    // readable after the dialog has closed.
    template <typename Done>
    bool Watch(Done done, DWORD timeoutMs) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            if (m_updater->WaitForExit(0)) return true;
            const std::wstring text = WindowText(Item(IDC_LOG));
            if (!text.empty() || m_log.empty()) m_log = text;
            if (done()) return true;
            Sleep(20);
        }
        return false;
    }
    bool HasLine(const wchar_t* line) const {
        const auto lines = Lines(m_log);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // A run is over once Start is on again after the run's first line. Its last line came
    // before that, perhaps after the log was last read: it is read once more.
    bool WaitForRunEnd(DWORD timeoutMs = 30000) {
        const bool ended = Watch(
            [this] { return HasLine(kConnecting) && IsWindowEnabled(Item(IDOK)); }, timeoutMs);
        const std::wstring text = WindowText(Item(IDC_LOG));
        if (ended && !text.empty()) m_log = text;
        return ended;
    }
    // Ends one case of a table: closes the updater, and starts the trial edition again when
    // the case ended it.
    void CloseAndRestartTrial(bool trialEnded) {
        PostMessageW(m_dialog, WM_CLOSE, 0, 0);
        ASSERT_TRUE(m_updater->WaitForExit(10000));
        if (trialEnded) {
            ASSERT_TRUE(StartTrial());
        }
    }
    int Stage() const {
        return static_cast<int>(SendMessageW(Item(IDC_STAGE_PROGRESS), PBM_GETPOS, 0, 0));
    }
    void ExpectInstalledUnchanged() {
        std::string now;
        ASSERT_TRUE(ReadFileBytes(m_installed, now));
        EXPECT_TRUE(now == m_oldBytes) << "the installed program has changed";
        EXPECT_FALSE(FileExists(m_installed + L".download"));
    }

    // Where the server has a patch for the installed program (made by update-server from 1.0.0.1
    // to 1.0.0.2), only the patch is downloaded. Any doubt about it and the whole file is
    // downloaded and installed as before, and the check is not said to have failed.
    void PatchOrWholeFile() {
        std::string good;
        ASSERT_TRUE(ReadFileBytes(RunningProgramFolder() + L"\\patches\\edition.qvpatch", good));
        Sha256 hash;
        std::array<uint8_t, 32> digest{};
        ASSERT_TRUE(hash.Add(m_oldBytes.data(), static_cast<ULONG>(m_oldBytes.size())) &&
                    hash.Finish(digest));
        const std::string address = "/from/" + ToHex(digest);
        const auto changed = [&good](size_t at, char by) {
            std::string patch = good;
            patch[at] = static_cast<char>(patch[at] ^ by);
            return patch;
        };
        // The first block one byte longer, the second one shorter: the lengths still add up.
        const auto shifted = [&good] {
            std::string patch = good;
            constexpr size_t kControlLength = 8 + 32 + 8 + 32;
            for (const auto& [at, by] :
                 {std::pair{kControlLength, 1}, std::pair{kControlLength + 8, -1}}) {
                uint64_t length = 0;
                std::memcpy(&length, patch.data() + at, sizeof(length));
                length += static_cast<uint64_t>(by);
                std::memcpy(patch.data() + at, &length, sizeof(length));
            }
            return patch;
        };
        struct Case {
            const char* name;
            std::string patch;
            bool used;
        };
        const Case cases[] = {
            {"a good patch", good, true},
            {"a corrupt block", changed(good.size() - 40, 0x5a), false},
            {"a cut patch", good.substr(0, good.size() - 16), false},
            {"blocks that lie about their lengths", shifted(), false},
            {"made for another program", changed(8, 0x01), false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            OfferNewVersion({.body = m_newBytes});
            // At a pace: a good patch is in place so soon that the dialog could close before
            // its line was read.
            m_server.Script(address, {.headers = {{"ETag", "\"p1\""}},
                                      .body = c.patch,
                                      .behaviour = Behaviour::Slow,
                                      .pieceBytes = 64,
                                      .intervalMs = 50});
            m_server.ClearRequests();
            ASSERT_TRUE(Start(L"AutoUpdate"));
            ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
            std::vector<std::wstring> expected{kConnecting, kConnected, kAnalysed, kDownloading,
                                               kPatchBegun};
            if (!c.used) expected.push_back(kPatchFailed);
            std::vector<std::wstring> lines = Lines(m_log);
            if (lines.size() == expected.size() + 1) expected.push_back(kSucceeded);
            EXPECT_EQ(lines, expected);
            EXPECT_EQ(DownloadRequests(), c.used ? 0 : 1);
            std::string now;
            ASSERT_TRUE(ReadFileBytes(m_installed, now));
            EXPECT_TRUE(now == m_newBytes) << "the new version is not in place";
            EXPECT_FALSE(
                FileExists(StagedFile::TemporaryPath(StagedFile::PatchTarget(m_installed))));
            ASSERT_TRUE(WriteFileBytes(m_installed, m_oldBytes));
            ASSERT_TRUE(StartTrial());
        }
    }

    TestHttpServer m_server;
    TempDir m_folder{L"更新 测试"};
    std::unique_ptr<MountedFolder> m_mount;  // outlives the programs started from it
    std::wstring m_userTarget;               // where a per-machine update downloads
    std::wstring m_installFolder, m_installed;
    std::string m_oldBytes, m_newBytes;
    std::unique_ptr<ChildProcess> m_trial, m_updater;
    HWND m_dialog = nullptr;
    std::wstring m_log;
};

}  // namespace

TEST_F(UpdateRun, ANewerVersionIsInstalledAndStarted) {
    OfferNewVersion({.body = m_newBytes});
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
    // The success line and the dialog's end come in one step: it is seen only now and then.
    std::vector<std::wstring> expected{kConnecting, kConnected, kAnalysed, kDownloading};
    std::vector<std::wstring> lines = Lines(m_log);
    if (lines.size() == 5) expected.push_back(kSucceeded);
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(m_trial->WaitForExit(5000)) << "the running trial edition was not ended";
    std::string now;
    ASSERT_TRUE(ReadFileBytes(m_installed, now));
    EXPECT_TRUE(now == m_newBytes);
    EXPECT_FALSE(FileExists(m_installed + L".download"));
    for (int i = 0; i < 100 && !FileExists(Path(L"commercial-started.txt")); ++i) Sleep(50);
    EXPECT_TRUE(FileExists(Path(L"commercial-started.txt")));
}

// Without the commercial edition beside it the update still finishes: nothing is started, and
// the updater ends.
TEST_F(UpdateRun, WithoutTheCommercialEditionTheUpdateFinishesAndStartsNothing) {
    ASSERT_TRUE(DeleteFileW(Path(L"Tanvik商业版.exe").c_str()));
    OfferNewVersion({.body = m_newBytes});
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
    // As above, the success line shows only when the panel is read before the dialog ends.
    std::vector<std::wstring> expected{kConnecting, kConnected, kAnalysed, kDownloading};
    if (Lines(m_log).size() == 5) expected.push_back(kSucceeded);
    EXPECT_EQ(Lines(m_log), expected);
    std::string now;
    ASSERT_TRUE(ReadFileBytes(m_installed, now));
    EXPECT_TRUE(now == m_newBytes);
    Sleep(1000);  // what a start would have run, given the time to write its mark
    EXPECT_FALSE(FileExists(Path(L"commercial-started.txt")));
}

TEST_F(UpdateRun, EveryOtherOutcomeSaysWhatHappenedAndKeepsTheProgram) {
    struct Case {
        const char* name;
        Reply check, list, download;
        std::vector<std::wstring> lines;
        int stage;
        bool trialEnded;
    };
    const std::string offer = "#1.0.0.2#" + m_server.BaseUrl() + "new.exe#";
    const Case cases[] = {
        {"empty check", {.body = ""}, {}, {}, {kConnecting}, 0, false},
        {"True", {.body = "True"}, {}, {}, {kConnecting, kConnectFailed}, 3, false},
        {"true blank", {.body = "true "}, {}, {}, {kConnecting, kConnectFailed}, 3, false},
        {"error", {.body = "error"}, {}, {}, {kConnecting, kConnectFailed}, 3, false},
        {"list fails",
         {.body = "true"},
         {.status = 404},
         {},
         {kConnecting, kConnected, kListFailed},
         3,
         false},
        {"not newer",
         {.body = "true"},
         {.body = "#1.0.0.1#" + m_server.BaseUrl() + "new.exe#"},
         {},
         {kConnecting, kConnected, kAnalysed, kUpToDate},
         3,
         false},
        {"download fails",
         {.body = "true"},
         {.body = offer},
         {.status = 404, .body = m_newBytes},
         {kConnecting, kConnected, kAnalysed, kDownloading, kFailed},
         3,
         true},
        // Only a web address is fetched: anything else fails before the program is ended.
        {"file address",
         {.body = "true"},
         {.body = "#1.0.0.2#file:///C:/windows/notepad.exe#"},
         {},
         {kConnecting, kConnected, kAnalysed, kFailed},
         3,
         false},
        {"ftp address",
         {.body = "true"},
         {.body = "#1.0.0.2#ftp://127.0.0.1/new.exe#"},
         {},
         {kConnecting, kConnected, kAnalysed, kFailed},
         3,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.Script(kCheck, c.check);
        m_server.Script(kList, c.list);
        m_server.Script("/new.exe", c.download);
        ASSERT_TRUE(Start(L"AutoUpdate"));
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_EQ(Lines(m_log), c.lines);
        EXPECT_EQ(Stage(), c.stage);
        EXPECT_EQ(m_trial->WaitForExit(c.trialEnded ? 5000 : 0), c.trialEnded);
        ExpectInstalledUnchanged();
        ASSERT_NO_FATAL_FAILURE(CloseAndRestartTrial(c.trialEnded));
    }
}

TEST_F(UpdateRun, StopBeforeOrDuringTheDownloadLeavesEverythingAsItWas) {
    struct Case {
        const char* name;
        Reply check, download;
        const wchar_t* stopAfter;  // the line after which Stop is pressed
        std::vector<std::wstring> lines;
        bool trialEnded;
    };
    const Case cases[] = {
        {"during the check",
         {.body = "true", .behaviour = Behaviour::StallAfter, .afterBytes = 0, .stallSeconds = 20},
         {.body = m_newBytes},
         kConnecting,
         {kConnecting, kStopped},
         false},
        {"slow download",
         {.body = "true"},
         {.body = m_newBytes, .behaviour = Behaviour::Slow, .pieceBytes = 1024, .intervalMs = 100},
         kDownloading,
         {kConnecting, kConnected, kAnalysed, kDownloading, kStopped},
         true},
        {"silent server",
         {.body = "true"},
         {.body = m_newBytes,
          .behaviour = Behaviour::StallAfter,
          .afterBytes = 4096,
          .stallSeconds = 20},
         kDownloading,
         {kConnecting, kConnected, kAnalysed, kDownloading, kStopped},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OfferNewVersion(c.download);
        m_server.Script(kCheck, c.check);
        ASSERT_TRUE(Start(L""));
        ASSERT_TRUE(Watch([this] { return IsWindowEnabled(Item(IDOK)) != FALSE; }, 30000));
        ASSERT_TRUE(PressButton(m_dialog, IDOK));
        ASSERT_TRUE(Watch([&] { return HasLine(c.stopAfter); }, 30000));
        Sleep(300);
        ASSERT_TRUE(PressButton(m_dialog, IDC_STOP));
        ASSERT_TRUE(Watch([this] { return IsWindowEnabled(Item(IDOK)) != FALSE; }, 3000));
        Sleep(200);
        m_log = WindowText(Item(IDC_LOG));
        EXPECT_EQ(Lines(m_log), c.lines);
        EXPECT_EQ(Stage(), 3);
        EXPECT_EQ(m_trial->WaitForExit(0), c.trialEnded);
        ExpectInstalledUnchanged();
        ASSERT_NO_FATAL_FAILURE(CloseAndRestartTrial(c.trialEnded));
    }
}

TEST_F(UpdateRun, ClosedOrKilledDuringTheDownloadLeavesTheOldProgram) {
    OfferNewVersion(
        {.body = m_newBytes, .behaviour = Behaviour::Slow, .pieceBytes = 1024, .intervalMs = 100});
    for (bool kill : {false, true}) {
        ASSERT_TRUE(Start(L"AutoUpdate"));
        ASSERT_TRUE(Watch([this] { return HasLine(kDownloading); }, 30000));
        Sleep(500);
        if (kill)
            m_updater->Kill();
        else
            PostMessageW(m_dialog, WM_CLOSE, 0, 0);
        ASSERT_TRUE(m_updater->WaitForExit(10000));
        Sleep(200);
        ExpectInstalledUnchanged();
    }
}

TEST_F(UpdateRun, AServerSilentForAMinuteFailsTheUpdate) {
    OfferNewVersion({.body = m_newBytes,
                     .behaviour = Behaviour::StallAfter,
                     .afterBytes = 4096,
                     .stallSeconds = 75});
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(Watch([this] { return HasLine(kFailed); }, 90000));
    EXPECT_EQ(Lines(m_log), (std::vector<std::wstring>{kConnecting, kConnected, kAnalysed,
                                                       kDownloading, kFailed}));
    ExpectInstalledUnchanged();
    PostMessageW(m_dialog, WM_CLOSE, 0, 0);
}

// Nowhere beside the program to write the download, and no rights would help: a folder under
// each of the updater's three temporary names. The updater proves it can write before anything
// else: the run fails without ending the program, writing or asking for the file.
TEST_F(UpdateRun, NowhereToWriteTheDownloadEndsNothing) {
    OfferNewVersion({.body = m_newBytes});
    for (const wchar_t* name : {L".download", L".download2", L".download3"})
        ASSERT_TRUE(CreateDirectoryW((m_installed + name).c_str(), nullptr));
    {
        const std::vector<std::wstring> before = FolderEntries(m_installFolder);
        m_server.ClearRequests();
        ASSERT_TRUE(Start(L"AutoUpdate"));
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_EQ(Lines(m_log),
                  (std::vector<std::wstring>{kConnecting, kConnected, kAnalysed, kFailed}));
        EXPECT_FALSE(m_trial->WaitForExit(0)) << "the running trial edition was ended";
        std::string now;
        ASSERT_TRUE(ReadFileBytes(m_installed, now));
        EXPECT_TRUE(now == m_oldBytes) << "the installed program has changed";
        EXPECT_EQ(FolderEntries(m_installFolder), before) << "the folder was written";
        EXPECT_EQ(DownloadRequests(), 0) << "the download was asked for";
        // The stage bar counts the run's three stages.
        EXPECT_EQ(SendMessageW(Item(IDC_STAGE_PROGRESS), PBM_GETRANGE, TRUE, 0), 0);
        EXPECT_EQ(SendMessageW(Item(IDC_STAGE_PROGRESS), PBM_GETRANGE, FALSE, 0), 3);
        PostMessageW(m_dialog, WM_CLOSE, 0, 0);
        ASSERT_TRUE(m_updater->WaitForExit(10000));
    }
}

// A per-machine installation: the program keeps running while the download goes to the user's
// own folder, and then the step is asked for with rights. Wine grants them without a prompt,
// but the mount stays read-only: the step fails where the check did, and nothing changes. The
// next run goes straight to the step with the file it kept, asking the server for nothing.
TEST_F(UpdateRun, APerMachineInstallationDownloadsFirstAndEndsNothingItCannotWrite) {
    ASSERT_NO_FATAL_FAILURE(InstallReadOnly());
    OfferNewVersion({.headers = {{"ETag", "\"v1\""}}, .body = m_newBytes});
    const std::vector<std::wstring> before = FolderEntries(m_installFolder);
    for (const int downloads : {1, 0}) {
        SCOPED_TRACE(downloads ? "the first run" : "the run after");
        m_server.ClearRequests();
        ASSERT_TRUE(Start(L"AutoUpdate"));
        ASSERT_TRUE(WaitForRunEnd(60000));
        std::vector<std::wstring> expected{kConnecting, kConnected, kAnalysed, kDownloading};
        if (downloads == 0) expected.push_back(kResumed);  // the kept download goes on
        expected.insert(expected.end(), {kAskingRights, kStepCannotWrite});
        EXPECT_EQ(Lines(m_log), expected);
        EXPECT_FALSE(m_trial->WaitForExit(0)) << "the running trial edition was ended";
        EXPECT_EQ(FolderEntries(m_installFolder), before) << "the folder was written";
        std::string held;
        EXPECT_TRUE(ReadFileBytes(StagedFile::TemporaryPath(m_userTarget), held) &&
                    held == m_newBytes)
            << "the download was not kept in the user's folder";
        EXPECT_EQ(DownloadRequests(), downloads);
        PostMessageW(m_dialog, WM_CLOSE, 0, 0);
        ASSERT_TRUE(m_updater->WaitForExit(10000));
    }
    // Installed by other means meanwhile: the run finds nothing newer and drops the kept file.
    m_trial->Kill();
    m_mount->MakeWritable();
    ASSERT_TRUE(CopyFileTo(Fixture(L"edition_trial_1_0_0_2.exe"), m_installed));
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Lines(m_log),
              (std::vector<std::wstring>{kConnecting, kConnected, kAnalysed, kUpToDate}));
    EXPECT_FALSE(FileExists(StagedFile::TemporaryPath(m_userTarget)));
    EXPECT_FALSE(FileExists(StagedFile::RecordPath(m_userTarget)));
    PostMessageW(m_dialog, WM_CLOSE, 0, 0);
}

TEST_F(UpdateRun, APerMachineUpdateIsInstalledByTheStep) {
    InstallPerMachineOnceWritable();
}

TEST_F(UpdateRun, APatchIsUsedWhereItWorksAndTheWholeFileOtherwise) {
    PatchOrWholeFile();
}

// A download stopped half-way keeps its part; the next run of the same offer asks only for
// the rest and says so. A run that finds nothing newer drops what is left of a part.
TEST_F(UpdateRun, AStoppedDownloadGoesOnInTheNextRun) {
    const std::vector<HttpHeader> etag{{"ETag", "\"v1\""}};
    const std::wstring part = m_installed + L".download";
    const std::wstring record = part + L".info";
    OfferNewVersion({.headers = etag,
                     .body = m_newBytes,
                     .behaviour = Behaviour::Slow,
                     .pieceBytes = 1024,
                     .intervalMs = 50});
    ASSERT_TRUE(Start(L""));
    ASSERT_TRUE(Watch([this] { return IsWindowEnabled(Item(IDOK)) != FALSE; }, 30000));
    ASSERT_TRUE(PressButton(m_dialog, IDOK));
    ASSERT_TRUE(Watch([this] { return HasLine(kDownloading); }, 30000));
    Sleep(1000);
    ASSERT_TRUE(PressButton(m_dialog, IDC_STOP));
    ASSERT_TRUE(Watch([this] { return IsWindowEnabled(Item(IDOK)) != FALSE; }, 3000));
    EXPECT_TRUE(FileExists(part));
    EXPECT_TRUE(FileExists(record));
    ASSERT_NO_FATAL_FAILURE(CloseAndRestartTrial(true));

    // The rest comes at a pace: a dialog that closes within the log's 20 ms polls leaves its
    // last lines unread.
    OfferNewVersion({.headers = etag,
                     .body = m_newBytes,
                     .behaviour = Behaviour::Slow,
                     .pieceBytes = 65536,
                     .intervalMs = 100,
                     .ranges = true});
    m_server.ClearRequests();
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
    std::vector<std::wstring> expected{kConnecting, kConnected, kAnalysed, kDownloading, kResumed};
    if (Lines(m_log).size() == 6) expected.push_back(kSucceeded);
    EXPECT_EQ(Lines(m_log), expected);
    std::string now;
    ASSERT_TRUE(ReadFileBytes(m_installed, now));
    EXPECT_TRUE(now == m_newBytes);
    EXPECT_FALSE(FileExists(part));
    EXPECT_FALSE(FileExists(record));
    bool askedForTheRest = false;
    for (const ReceivedRequest& request : m_server.Requests())
        askedForTheRest = askedForTheRest || (request.target == "/new.exe" &&
                                              request.Header("If-Range") == etag[0].value);
    EXPECT_TRUE(askedForTheRest);

    // 1.0.0.2 is installed now: a part left beside it is not needed any more.
    ASSERT_TRUE(WriteFileBytes(part, m_newBytes.substr(0, 1000)));
    ASSERT_TRUE(WriteFileBytes(record, "qorvel partial download 1\n"));
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Lines(m_log),
              (std::vector<std::wstring>{kConnecting, kConnected, kAnalysed, kUpToDate}));
    EXPECT_FALSE(FileExists(part));
    EXPECT_FALSE(FileExists(record));
    PostMessageW(m_dialog, WM_CLOSE, 0, 0);
}

// The vendor's own sites, started by the ctest fixture vendor_sites: update-server, and nginx
// serving its export, both offering edition 1.0.0.2 in a signed record. Each updater copy has
// one as its site; the *-signed ones have the release key and check the record and the file.
TEST_F(UpdateRun, WholeUpdatesFromTheVendorsServerAndFromNginx) {
    for (const std::wstring site :
         {L"vendorsite", L"nginxsite", L"vendorsite-signed", L"nginxsite-signed"}) {
        SCOPED_TRACE(std::string(site.begin(), site.end()));
        if (!m_trial || m_trial->WaitForExit(0)) {
            ASSERT_TRUE(CopyFileTo(Fixture(L"edition_trial_1_0_0_1.exe"), m_installed));
            DeleteFileW(Path(L"commercial-started.txt").c_str());
            ASSERT_TRUE(StartTrial());
        }
        ASSERT_TRUE(CopyFileTo(RunningProgramFolder() + L"\\" + site + L"\\updater.exe",
                               Path(L"updater.exe")));
        ASSERT_TRUE(Start(L"AutoUpdate"));
        ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
        std::vector<std::wstring> expected{kConnecting, kConnected, kAnalysed, kDownloading};
        if (Lines(m_log).size() == 5) expected.push_back(kSucceeded);
        EXPECT_EQ(Lines(m_log), expected);
        EXPECT_TRUE(m_trial->WaitForExit(5000));
        std::string now;
        ASSERT_TRUE(ReadFileBytes(m_installed, now));
        EXPECT_TRUE(now == m_newBytes) << "not the published edition";
        for (int i = 0; i < 100 && !FileExists(Path(L"commercial-started.txt")); ++i) Sleep(50);
        EXPECT_TRUE(FileExists(Path(L"commercial-started.txt")));
    }
}

namespace {
const wchar_t kCheckFailed[] = L"* 更新文件校验失败,已保留当前版本!";

class SignedUpdateRun : public UpdateRun {
protected:
    std::wstring SiteFolder() const override { return L"testsite-signed"; }
    std::string OfferRecord() const override { return Record(L"record.txt"); }
    std::string Record(const wchar_t* name) const {
        std::string record;
        EXPECT_TRUE(ReadFileBytes(RunningProgramFolder() + L"\\testsite-signed\\" + name, record));
        return record;
    }
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}
}  // namespace

// With the vendor's key compiled in, only what the vendor signed is installed.
TEST_F(SignedUpdateRun, OnlyTheSignedFileIsInstalled) {
    const std::string good = Record(L"record.txt");
    const size_t sig = good.find("sig=") + 10;
    std::string flipped = good;
    flipped[sig] = flipped[sig] == 'A' ? 'B' : 'A';
    std::string changedByte = m_newBytes;
    changedByte[changedByte.size() / 2] ^= 0x01;
    const std::string unsigned_ = good.substr(0, good.find("sha256="));
    struct Case {
        const char* name;
        std::string record;
        std::string served;
        bool recordAtFault;
        const wchar_t* verdict = kCheckFailed;
    };
    const Case cases[] = {
        {"wrong key", Record(L"record-other-key.txt"), m_newBytes, true},
        {"flipped signature", flipped, m_newBytes, true},
        {"altered version", Replaced(good, "#1.0.0.2#", "#1.0.0.3#"), m_newBytes, true},
        {"altered address", Replaced(good, "/new.exe#", "/new2.exe#"), m_newBytes, true},
        {"unsigned", unsigned_, m_newBytes, true},
        // Outside a rollout with no earlier release: nothing is offered.
        {"empty", "", m_newBytes, true, kUpToDate},
        {"one byte changed", good, changedByte, false},
        {"longer file", good, m_newBytes + "tail", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_server.Script(kCheck, {.body = "true"});
        m_server.Script(kList, {.body = c.record});
        m_server.Script("/new.exe", {.body = c.served});
        m_server.Script("/new2.exe", {.body = c.served});
        ASSERT_TRUE(Start(L"AutoUpdate"));
        ASSERT_TRUE(WaitForRunEnd());
        const std::vector<std::wstring> expected =
            c.recordAtFault
                ? std::vector<std::wstring>{kConnecting, kConnected, kAnalysed, c.verdict}
                : std::vector<std::wstring>{kConnecting,  kConnected,   kAnalysed,
                                            kDownloading, kCheckFailed, kFailed};
        EXPECT_EQ(Lines(m_log), expected);
        EXPECT_EQ(Stage(), 3);
        EXPECT_EQ(m_trial->WaitForExit(c.recordAtFault ? 0 : 5000), !c.recordAtFault);
        ExpectInstalledUnchanged();
        ASSERT_NO_FATAL_FAILURE(CloseAndRestartTrial(!c.recordAtFault));
    }

    OfferNewVersion({.body = m_newBytes});
    m_server.Script(kList, {.body = good});
    ASSERT_TRUE(Start(L"AutoUpdate"));
    ASSERT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
    std::string now;
    ASSERT_TRUE(ReadFileBytes(m_installed, now));
    EXPECT_TRUE(now == m_newBytes) << "the signed release was not installed";
}

// The step takes the signed record on its command line and checks it again.
TEST_F(SignedUpdateRun, APerMachineUpdateIsInstalledByTheStep) {
    InstallPerMachineOnceWritable();
}

namespace {
class RolloutUpdateRun : public UpdateRun {
protected:
    std::wstring SiteFolder() const override { return L"rolloutsite"; }
};
}  // namespace

// A release of 1.0.0.3 rolled out to half of the installations by update-server (the
// rollout_sites fixture), the others offered 1.0.0.2. Each installation's id is placed in the
// registry as a deployment tool would; the server decides: the first is in for 1.0.0.3 (its
// hash with the version falls below the half), the second out. The server makes a patch from
// the earlier release: an installation of 1.0.0.2 downloads only that.
TEST_F(RolloutUpdateRun, InAndOutOfARolloutEachInstallationGetsItsRelease) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* id;
        const wchar_t* before;
        const wchar_t* installed;
        bool patched;
    };
    const wchar_t* in = L"476be479a33482dca6183d3647d2b0bc";
    const wchar_t* out = L"df266d010e8e7658c1a1694b78b91856";
    const Case cases[] = {
        {L"在内 安装", in, L"edition_trial_1_0_0_1.exe", L"edition_trial_1_0_0_3.exe", false},
        {L"在外 安装", out, L"edition_trial_1_0_0_1.exe", L"edition_trial_1_0_0_2.exe", false},
        {L"增量 安装", in, L"edition_trial_1_0_0_2.exe", L"edition_trial_1_0_0_3.exe", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const TempDir folder(c.folder);
        ASSERT_NO_FATAL_FAILURE(InstallIn(folder.Path(), c.before));
        const std::wstring name = InstallIdValueName(folder.Path());
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kInstallIdsKey, name.c_str(), REG_SZ, c.id,
                                  static_cast<DWORD>((wcslen(c.id) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        ASSERT_TRUE(Start(L"AutoUpdate"));
        EXPECT_TRUE(Watch([] { return false; }, 60000)) << "the updater did not finish";
        std::string now, offered;
        ASSERT_TRUE(ReadFileBytes(m_installed, now));
        ASSERT_TRUE(ReadFileBytes(Fixture(c.installed), offered));
        EXPECT_TRUE(now == offered) << "another release was installed";
        const std::vector<std::wstring> lines = Lines(m_log);
        // A patch used at full speed may leave its line unread as the dialog closes; the
        // installed bytes and the missing fallback show which way it went.
        if (!c.patched) {
            EXPECT_EQ(std::count(lines.begin(), lines.end(), kPatchBegun), 0);
        }
        EXPECT_EQ(std::count(lines.begin(), lines.end(), kPatchFailed), 0);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kInstallIdsKey, name.c_str());
        m_updater->Kill();
        m_trial->Kill();
    }
}

// With the release key the patch must make the signed file.
TEST_F(SignedUpdateRun, APatchIsUsedWhereItWorksAndTheWholeFileOtherwise) {
    PatchOrWholeFile();
}
