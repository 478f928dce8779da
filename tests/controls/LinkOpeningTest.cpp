// The ".htm" fallback for a shell that answers 32, with a handler of ours registered in
// this prefix's registry that records the command line it was started with.
#include <gtest/gtest.h>

#include "CodePage.h"
#include "Host.h"
#include "LinkLabel.h"
#include "LinkOpening.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

const wchar_t kHandlerType[] = L"QorvelTest.LinkHandler";

void SetDefault(const std::wstring& key, const std::wstring& value) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &opened, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(opened, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
}

int ShellWithoutItsDll(const std::wstring&, int) {
    return 32;
}

// Registers the recorder as the ".htm" command for the test's length, then puts back what
// was there.
class HtmHandler : public testing::Test {
protected:
    void SetUp() override {
        m_hadType = ReadRegistryDefault(HKEY_CLASSES_ROOT, L".htm", m_oldType) == ERROR_SUCCESS;
        SetDefault(L".htm", kHandlerType);
        Register(L"\"" + m_recorder + L"\" \"%1\"");
        SetEnvironmentVariableW(L"QV_RECORD_FILE", m_record.c_str());
    }
    void TearDown() override {
        if (m_hadType)
            SetDefault(L".htm", m_oldType);
        else
            RegDeleteKeyW(HKEY_CLASSES_ROOT, L".htm");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kHandlerType);
    }
    void Register(const std::wstring& command) {
        SetDefault(std::wstring(kHandlerType) + L"\\shell\\open\\command", command);
    }
    std::wstring Recorded() const {
        std::string bytes;
        for (int tries = 0; tries < 500 && !ReadFileBytes(m_record, bytes); ++tries) Sleep(10);
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                            bytes.size() / sizeof(wchar_t));
    }

    const std::wstring m_recorder = RunningProgramFolder() + L"\\link_recorder.exe";
    TempDir m_folder{L"链接 记录"};
    const std::wstring m_record = m_folder.File(L"command line.txt");
    std::wstring m_oldType;
    bool m_hadType = false;
};

}  // namespace

TEST_F(HtmHandler, TheTargetBecomesOneQuotedArgumentOfTheRegisteredCommand) {
    struct Case {
        const wchar_t* registered;
        const char* target;
        const wchar_t* expected;  // empty: refused
    };
    const Case cases[] = {
        {L"\"C:\\b\\browse.exe\" \"%1\"", "http://h/a b",
         L"\"C:\\b\\browse.exe\"  \"http://h/a b\""},
        {L"browse.exe %1 -new", "http://h/x", L"browse.exe  \"http://h/x\""},
        {L"\"浏览 器.exe\" -nohome", "http://h/", L"\"浏览 器.exe\" -nohome \"http://h/\""},
        {L"browse.exe \"%1\"", "http://h/\" -evil", L""},
    };
    for (const Case& c : cases) {
        Register(c.registered);
        EXPECT_EQ(HtmCommandFor(c.target), c.expected) << c.target;
    }
}

TEST_F(HtmHandler, AShellAnsweringExactly32RunsTheHtmCommandAndCountsAsOpened) {
    Host host;
    HWND window = host.Add(L"Static", L"更新日志", SS_LEFT, 1030, {10, 10, 100, 26});
    LinkLabel link;
    ASSERT_TRUE(link.Subclass(window));
    link.m_openWithShell = ShellWithoutItsDll;
    link.SetLinkTarget("http://127.0.0.1:9/freeUpdate/log.asp?a=1 b");
    SendMessageW(host.Window(), WM_COMMAND, MAKEWPARAM(1030, STN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
    EXPECT_TRUE(link.IsVisited());
    const std::wstring recorded = Recorded();
    EXPECT_EQ(recorded,
              L"\"" + m_recorder + L"\"  \"http://127.0.0.1:9/freeUpdate/log.asp?a=1 b\"");
}

TEST(StartCommand, AnswersAsWinExecDoes) {
    EXPECT_EQ(StartCommand(L"\"" + RunningProgramFolder() + L"\\link_recorder.exe\"", SW_HIDE), 33);
    EXPECT_EQ(StartCommand(L"\"" + RunningProgramFolder() + L"\\no such program.exe\"", SW_HIDE),
              2);
}
