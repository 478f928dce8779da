// The step that runs with rights, as the real updater.exe runs it from its command line: copies
// of the test builds without and with the tests' release key, in an installation folder beside
// a running trial edition, handed a file from another folder. Only the offer, whole and newer,
// replaces the program; everything else leaves the folder and the running program as they were.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "InstallCommand.h"
#include "Sha256.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kTarget[] = L"Tanvik体验版.exe";

std::wstring BuiltFile(const std::wstring& relative) {
    return RunningProgramFolder() + L"\\" + relative;
}

std::string Bytes(const std::wstring& path) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(path, bytes)) << "cannot read a fixture";
    return bytes;
}

std::set<std::wstring> Entries(const std::wstring& folder) {
    std::set<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().wstring());
    return names;
}

bool ShowsAWindow(DWORD processId) {
    for (HWND window : TopLevelWindowsOf(processId))
        if (IsWindowVisible(window)) return true;
    return false;
}

class InstallStep : public testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* site : {L"testsite", L"testsite-signed"}) {
            ASSERT_TRUE(CreateDirectoryW(m_install.File(site).c_str(), nullptr));
            ASSERT_TRUE(CopyFileTo(BuiltFile(site) + L"\\updater.exe", Updater(site)));
            ASSERT_TRUE(CopyFileTo(BuiltProgramPath(L"SkinHu.dll"), Beside(site, L"SkinHu.dll")));
            ASSERT_TRUE(WriteFileBytes(Beside(site, kTarget), m_old));
        }
        ASSERT_TRUE(WriteFileBytes(m_decoy.File(kTarget), m_old));
    }

    std::wstring Beside(const wchar_t* site, const std::wstring& name) const {
        return m_install.File(site) + L"\\" + name;
    }
    std::wstring Updater(const wchar_t* site) const { return Beside(site, L"updater.exe"); }

    // The request the updater makes for a file of these bytes, offered as version.
    InstallRequest RequestFor(const std::string& bytes, const char* version) {
        InstallRequest request;
        request.file = m_downloads.File(L"新 版本.exe");
        request.size = bytes.size();
        request.version = version;
        Sha256 digest;
        EXPECT_TRUE(digest.Add(bytes.data(), static_cast<ULONG>(bytes.size())));
        EXPECT_TRUE(digest.Finish(request.sha256));
        EXPECT_TRUE(WriteFileBytes(request.file, bytes));
        return request;
    }

    // Runs the step with its working folder elsewhere (beside another program of the same
    // name); its exit code, or STILL_ACTIVE when it showed a window or did not end.
    DWORD RunStep(const wchar_t* site, const std::wstring& arguments) {
        ChildProcess step;
        if (!step.Start(Updater(site), arguments, m_decoy.Path())) return STILL_ACTIVE;
        for (int i = 0; i < 1500 && !step.WaitForExit(20); ++i)
            if (ShowsAWindow(step.Id())) return STILL_ACTIVE;
        return step.ExitCode();
    }

    TempDir m_install{L"安装 目录"};
    TempDir m_downloads{L"用户 下载"};
    TempDir m_decoy{L"别处"};
    const std::string m_old = Bytes(BuiltFile(L"fixtures\\edition_trial_1_0_0_1.exe"));
    const std::string m_new = Bytes(BuiltFile(L"fixtures\\edition_trial_1_0_0_2.exe"));
};

std::string Record(const wchar_t* name) {
    return Bytes(BuiltFile(L"testsite-signed\\") + name);
}

}  // namespace

TEST_F(InstallStep, OnlyTheOfferWholeAndNewerReplacesTheProgram) {
    struct Case {
        const char* name;
        const wchar_t* site;
        std::string file;     // the bytes handed over
        std::string offered;  // the bytes the request describes
        const char* version;  // the version offered
        std::string record;   // what the signed build is handed
        InstallExit exit;
        void (*spoil)(InstallRequest&) = nullptr;
        std::wstring arguments = L"";  // instead of the request's
    };
    const std::string newer3 = Bytes(BuiltFile(L"fixtures\\versioned_3_0_12_7.exe"));
    std::string swapped = m_new;
    swapped[swapped.size() / 2] ^= 1;
    const std::string cut = m_new.substr(0, m_new.size() - 1);
    const std::string good = Record(L"record.txt");
    const std::string otherKey = Record(L"record-other-key.txt");
    const wchar_t* plain = L"testsite";
    const wchar_t* keyed = L"testsite-signed";
    using E = InstallExit;
    const Case cases[] = {
        {"installed", plain, m_new, m_new, "1.0.0.2", "", E::Installed},
        {"swapped file", plain, swapped, m_new, "1.0.0.2", "", E::NotTheOffer},
        {"cut program", plain, cut, cut, "1.0.0.2", "", E::NotTheOffer},
        {"wrong size", plain, m_new, m_new, "1.0.0.2", "", E::NotTheOffer,
         [](InstallRequest& r) { ++r.size; }},
        {"wrong digest", plain, m_new, m_new, "1.0.0.2", "", E::NotTheOffer,
         [](InstallRequest& r) { r.sha256[7] ^= 1; }},
        {"not the offered version", plain, newer3, newer3, "1.0.0.2", "", E::NotNewer},
        {"not newer", plain, m_old, m_old, "1.0.0.1", "", E::NotNewer},
        {"missing file", plain, m_new, m_new, "1.0.0.2", "", E::FileUnusable,
         [](InstallRequest& r) { r.file += L".gone"; }},
        {"a target named", plain, m_new, m_new, "1.0.0.2", "", E::BadCommandLine,
         [](InstallRequest& r) { r.file += L"\" \"C:\\other\\Tanvik.exe"; }},
        {"malformed", plain, m_new, m_new, "1.0.0.2", "", E::BadCommandLine, nullptr,
         L"/install \"C:\\x.exe\" 1"},
        {"signed: installed", keyed, m_new, m_new, "1.0.0.2", good, E::Installed},
        {"signed: other key", keyed, m_new, m_new, "1.0.0.2", otherKey, E::NotTheOffer},
        {"signed: no record", keyed, m_new, m_new, "1.0.0.2", "", E::NotTheOffer},
        {"signed: other bytes", keyed, newer3, newer3, "1.0.0.2", good, E::NotTheOffer},
        {"signed: other version", keyed, m_new, m_new, "1.0.0.3", good, E::NotTheOffer},
        {"signed: swapped file", keyed, swapped, m_new, "1.0.0.2", good, E::NotTheOffer},
    };
    std::unique_ptr<ChildProcess> trials[2];  // the running program of each folder
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring target = Beside(c.site, kTarget);
        std::unique_ptr<ChildProcess>& trial = trials[c.site == keyed];
        if (!trial || trial->WaitForExit(0)) {
            trial = std::make_unique<ChildProcess>();
            ASSERT_TRUE(trial->Start(target));
        }
        const std::set<std::wstring> before = Entries(m_install.File(c.site));
        InstallRequest request = RequestFor(c.offered, c.version);
        request.record = c.record;
        ASSERT_TRUE(WriteFileBytes(request.file, c.file));
        if (c.spoil) c.spoil(request);
        const std::wstring arguments =
            c.arguments.empty() ? FormatInstallArguments(request) : c.arguments;
        EXPECT_EQ(RunStep(c.site, arguments), static_cast<DWORD>(c.exit));

        const bool installed = c.exit == E::Installed;
        EXPECT_EQ(Bytes(target) == (installed ? m_new : m_old), true) << "the program's bytes";
        EXPECT_EQ(Entries(m_install.File(c.site)), before) << "something was left or taken";
        EXPECT_EQ(Bytes(m_decoy.File(kTarget)), m_old) << "a program elsewhere was replaced";
        EXPECT_EQ(trial->WaitForExit(installed ? 5000 : 0), installed) << "the running program";
        if (installed) {
            ASSERT_TRUE(WriteFileBytes(target, m_old));
        }
    }
}

// A file that another process holds open for writing could still change under the step.
TEST_F(InstallStep, AFileHeldOpenForWritingIsRefused) {
    const InstallRequest request = RequestFor(m_new, "1.0.0.2");
    const HANDLE writer =
        CreateFileW(request.file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunStep(L"testsite", FormatInstallArguments(request)),
              static_cast<DWORD>(InstallExit::FileUnusable));
    CloseHandle(writer);
    EXPECT_EQ(Bytes(Beside(L"testsite", kTarget)), m_old);
    EXPECT_FALSE(FileExists(Beside(L"testsite", kTarget) + L".download"));
}
