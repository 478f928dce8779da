// LoadInfoProc as the dialog starts it, against the tests' HTTP server: the title from the
// installed version, the links' targets and cursor from the manual-download reply, and its
// two log lines. The program lives in a folder of its own, where the test puts (or not) a
// main program with a known version.
#include <gtest/gtest.h>

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <atomic>
#include <cwchar>
#include <thread>

#include "CodePage.h"
#include "TestHttpServer.h"
#include "TestSupport.h"
#include "UpdateDialog.h"
#include "resource_ids.h"

using namespace testsupport;

const char kUpdaterSiteUrl[] = "http://127.0.0.1:9/";
const char kUpdaterReleaseKey[] = "";

namespace {

TestHttpServer& Server() {
    static TestHttpServer server;
    return server;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring TipOf(HWND link) {
    // The label's tooltip is a top-level window of the label's thread; find the one whose
    // tool is this label. (Walking the desktop's windows instead can stop early when another
    // test's window goes away during the walk.)
    struct Search {
        HWND link;
        HWND tip = nullptr;
    } search{link};
    EnumThreadWindows(
        GetWindowThreadProcessId(link, nullptr),
        [](HWND window, LPARAM parameter) CALLBACK -> BOOL {
            auto& search = *reinterpret_cast<Search*>(parameter);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            TOOLINFOW tool{};
            tool.cbSize = sizeof(tool);
            tool.hwnd = search.link;
            tool.uId = 1;
            if (lstrcmpiW(name, TOOLTIPS_CLASSW) == 0 &&
                SendMessageW(window, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool)))
                search.tip = window;
            return search.tip == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    if (!search.tip) return L"(no tip)";
    wchar_t text[1024] = {};
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = link;
    tool.uId = 1;
    tool.lpszText = text;
    SendMessageW(search.tip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    return text;
}

bool HasCursor(HWND link) {
    return SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                        MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)) == TRUE;
}

// The real dialog on a thread of its own, its site pointed at the given address; the dialog
// starts the real LoadInfoProc at its first visible tick.
class ShownDialog {
public:
    explicit ShownDialog(const std::string& site) {
        m_thread = std::thread([this, site] {
            UpdateDialog dialog(nullptr, site.c_str());
            m_dialog = &dialog;
            dialog.DoModal();
            m_dialog = nullptr;
        });
        WaitFor([this] { return m_dialog.load() && (m_window = m_dialog.load()->m_hWnd); });
    }
    ~ShownDialog() {
        PostMessageW(m_window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        m_thread.join();
    }
    HWND Window() const { return m_window; }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }
    std::wstring Title() const { return TextOf(m_window); }
    // Waits for the title that LoadInfoProc writes last.
    bool WaitForInfo() const {
        return WaitFor(
            [this] { return Title().find(L"（正在获取版本号）") == std::wstring::npos; });
    }

private:
    template <typename Condition>
    static bool WaitFor(Condition condition) {
        for (int tries = 0; tries < 1000; ++tries) {
            if (condition()) return true;
            Sleep(10);
        }
        return false;
    }

    std::thread m_thread;
    std::atomic<UpdateDialog*> m_dialog{nullptr};
    HWND m_window = nullptr;
};

const wchar_t kWelcome[] =
    L"* 本程序可以帮助您升级Qorvel\r\n* 升级前请先关闭Qorvel主程序\r\n"
    L"* 如果没有关闭本程序会自动帮您关闭\r\n* 升级过程中不要启动Qorvel主程序\r\n";
const wchar_t kModeLine[] = L"* 获取配置模式完成…!\r\n";

}  // namespace

TEST(LoadInfo, TitleFromTheInstalledVersionAndOnlyAWebAddressAsTheManualLink) {
    struct Case {
        const char* name;
        bool installed;
        Reply reply;
        const wchar_t* target;  // null: the manual link is disabled
    };
    const Case cases[] = {
        {"address", true, {.body = "http://h/manual.htm\r\n"}, L"http://h/manual.htm"},
        {"secure, lines joined", false, {.body = "https://h/a\r\nb.htm\r\n"}, L"https://h/ab.htm"},
        {"failure word", true, {.body = "error"}, nullptr},
        {"failed request", false, {.status = 500, .body = "http://h/x"}, nullptr},
        {"unreachable server", true, {}, nullptr},
        {"empty", false, {.body = ""}, nullptr},
        {"a program", true, {.body = "C:\\Windows\\system32\\calc.exe"}, nullptr},
        {"another scheme", false, {.body = "file:///C:/x.exe"}, nullptr},
        {"an address with blanks", true, {.body = "http://h/a.exe -x"}, nullptr},
    };
    const std::wstring mainProgram = RunningProgramFolder() + L"\\Tanvik体验版.exe";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(mainProgram.c_str());
        if (c.installed) {
            ASSERT_TRUE(CopyFileTo(RunningProgramFolder() + L"\\fixtures\\version_2_0_1_5.exe",
                                   mainProgram));
        }
        Server().Script("/freeUpdate/update.asp?action=Hand", c.reply);
        const bool reachable = std::string(c.name) != "unreachable server";
        const std::string site = reachable ? Server().BaseUrl() : "http://127.0.0.1:1/";
        ShownDialog shown(site);
        ASSERT_TRUE(shown.WaitForInfo());

        EXPECT_EQ(shown.Title(), c.installed ? L"在线自动更新程序 V2.0.1.5"
                                             : L"在线自动更新程序 (获取版本号错误)");
        HWND manual = shown.Item(IDC_LINK_MANUAL);
        EXPECT_EQ(IsWindowEnabled(manual) != FALSE, c.target != nullptr);
        EXPECT_EQ(HasCursor(manual), c.target != nullptr);
        EXPECT_EQ(TipOf(manual), c.target ? c.target : L"手动下载");  // its caption until set
        // The home and log links need no server.
        const std::wstring siteW = ToWide(std::string_view(site));
        EXPECT_EQ(TipOf(shown.Item(IDC_LINK_HOME)), siteW);
        EXPECT_EQ(TipOf(shown.Item(IDC_LINK_LOG)), siteW + L"freeUpdate/log.asp");
        EXPECT_TRUE(HasCursor(shown.Item(IDC_LINK_LOG)));

        // Its two lines, and the timer's own in whatever order.
        std::wstring log = TextOf(shown.Item(IDC_LOG));
        ASSERT_EQ(log.rfind(kWelcome, 0), 0u);
        log.erase(0, std::wcslen(kWelcome));
        const size_t mode = log.find(kModeLine);
        ASSERT_NE(mode, std::wstring::npos);
        log.erase(mode, std::wcslen(kModeLine));
        EXPECT_EQ(log, L"* 获取用户版本信息完成…!\r\n* 获取手动下载信息完成…!\r\n");
    }
    DeleteFileW(mainProgram.c_str());
}
