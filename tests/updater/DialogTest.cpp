// The update dialog as a user meets it: the template, the start-up tick and its mode, Start
// and Stop, and the log panel, on real windows under the test display.
#include <gtest/gtest.h>

#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <tlhelp32.h>

#include <atomic>
#include <map>
#include <vector>

#include "DialogHarness.h"
#include "DialogRun.h"
#include "ObjectLifetime.h"
#include "ProgramHelp.h"
#include "TemplateReader.h"
#include "TestWorkers.h"
#include "resource_ids.h"

namespace {

const wchar_t kCaption[] = L"在线自动更新程序 （正在获取版本号）";
const wchar_t kWelcome[] =
    L"* 本程序可以帮助您升级Qorvel\r\n* 升级前请先关闭Qorvel主程序\r\n"
    L"* 如果没有关闭本程序会自动帮您关闭\r\n* 升级过程中不要启动Qorvel主程序\r\n";
const wchar_t kModeLine[] = L"* 获取配置模式完成…!\r\n";
const wchar_t kStopLine[] = L"* 用户执行了停止更新操作…!\r\n";

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

void Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

struct ExpectedControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;  // in the template
    short x, y, cx, cy;   // dialog units
    DWORD style;          // exactly, as compiled
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
constexpr DWORD kCentred = kChild | SS_CENTER | WS_GROUP;
constexpr DWORD kButton = kChild | BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED;

const std::vector<ExpectedControl>& TemplateControls() {
    static const std::vector<ExpectedControl> controls = {
        {1025, L"Static", L"访问首页", 14, 28, 33, 8, kLabel},
        {1024, L"Static", L"手动下载", 56, 28, 33, 8, kLabel},
        {1030, L"Static", L"更新日志", 98, 28, 33, 8, kLabel},
        {1, L"Button", L"开始更新", 140, 23, 52, 18, kButton},
        {1031, L"Button", L"停止更新", 201, 23, 52, 18, kButton},
        {1029, L"Edit", L"", 14, 44, 240, 117,
         kChild | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN | WS_VSCROLL |
             WS_BORDER | WS_TABSTOP},
        {1016, L"msctls_progress32", L"Progress1", 14, 165, 240, 14, kChild | WS_BORDER},
        {1017, L"msctls_progress32", L"Progress1", 14, 183, 240, 14, kChild | WS_BORDER},
        {1018, L"Static", L"欢迎您使用自动更新", 29, 95, 220, 8, WS_CHILD | SS_LEFT | WS_GROUP},
        {-1, L"Static", L"文件大小:", 14, 8, 37, 8, kLabel},
        {1019, L"Static", L"0KB", 56, 8, 46, 8, kCentred},
        {-1, L"Static", L"下载速度:", 106, 8, 37, 8, kLabel},
        {1020, L"Static", L"0KB", 148, 8, 46, 8, kCentred},
        {-1, L"Static", L"下载进度", 195, 8, 33, 8, kLabel},
        {1022, L"Static", L"0%", 235, 8, 16, 8, kCentred},
    };
    return controls;
}

bool SameId(int actual, int wanted) {
    return wanted == -1 ? (actual == -1 || actual == 0xFFFF) : actual == wanted;
}

// Where Windows puts a control of the template: origin and size are mapped separately.
RECT PixelsOf(HWND dialog, const ExpectedControl& c) {
    RECT mapped{c.x, c.y, c.cx, c.cy};
    MapDialogRect(dialog, &mapped);
    return {mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
}

RECT PlaceInDialog(HWND control, HWND dialog) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

// The code page this run was meant to have (the cp1252 run sets QV_EXPECT_ACP): without it
// the texts' checks would not show that every conversion names code page 936.
TEST(DialogTemplate, RunsUnderTheIntendedAnsiCodePage) {
    wchar_t expected[16] = {};
    if (GetEnvironmentVariableW(L"QV_EXPECT_ACP", expected, 16) == 0) GTEST_SKIP();
    EXPECT_EQ(GetACP(), static_cast<UINT>(_wtoi(expected)));
}

TEST(DialogTemplate, CompiledExactlyAsDesigned) {
    DialogTemplate read;
    ASSERT_TRUE(ReadDialogTemplate(GetModuleHandleW(nullptr), IDD_UPDATE, read));
    EXPECT_EQ(read.style, DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(read.exStyle, DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ(read.x, 0);
    EXPECT_EQ(read.y, 0);
    EXPECT_EQ(read.cx, 269);
    EXPECT_EQ(read.cy, 199);
    EXPECT_EQ(read.menu, L"");
    EXPECT_EQ(read.className, L"");
    EXPECT_EQ(read.caption, kCaption);
    EXPECT_EQ(read.pointSize, 9);
    EXPECT_EQ(read.weight, 0);
    EXPECT_EQ(read.italic, 0);
    EXPECT_EQ(read.charset, DEFAULT_CHARSET);
    EXPECT_EQ(read.face, L"宋体");

    const auto& expected = TemplateControls();
    ASSERT_EQ(read.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedControl& want = expected[i];
        const TemplateItem& item = read.items[i];
        SCOPED_TRACE(testing::Message() << "item " << i << " id " << want.id);
        EXPECT_TRUE(SameId(item.id, want.id)) << item.id;
        EXPECT_EQ(_wcsicmp(item.className.c_str(), want.className), 0);
        EXPECT_EQ(item.text, want.text);
        EXPECT_EQ(item.style, want.style) << std::hex << item.style;
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
    }
}

TEST(DialogTemplate, WindowCaptionFontAndIcon) {
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog), kCaption);
    const DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              DWORD(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);

    RECT client;
    GetClientRect(dialog, &client);
    RECT size{0, 0, 269, 199};
    MapDialogRect(dialog, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    LOGFONTW font{};
    auto hfont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(hfont, nullptr);
    GetObjectW(hfont, sizeof(font), &font);
    EXPECT_STREQ(font.lfFaceName, L"宋体");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);

    const auto dragIcon = reinterpret_cast<HICON>(SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0));
    EXPECT_NE(dragIcon, nullptr);
    EXPECT_EQ(dragIcon, reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)));
    EXPECT_EQ(dragIcon, reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0)));
}

TEST(DialogTemplate, ControlsAsCreatedInTabOrder) {
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);

    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    const auto& expected = TemplateControls();
    ASSERT_EQ(children.size(), expected.size());

    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedControl& want = expected[i];
        HWND control = children[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " id " << want.id);
        EXPECT_TRUE(SameId(GetDlgCtrlID(control), want.id)) << GetDlgCtrlID(control);
        EXPECT_EQ(_wcsicmp(ClassOf(control).c_str(), want.className), 0) << ClassOf(control);
        EXPECT_EQ(TextOf(control), want.id == IDC_LOG ? kWelcome : want.text);
        EXPECT_EQ(IsWindowVisible(control) != FALSE, want.id != IDC_WELCOME);
        EXPECT_EQ(IsWindowEnabled(control) != FALSE, want.id != IDOK && want.id != IDC_STOP);

        const RECT place = PlaceInDialog(control, dialog);
        const RECT wanted = PixelsOf(dialog, want);
        EXPECT_EQ(place.left, wanted.left);
        EXPECT_EQ(place.top, wanted.top);
        // The links fit themselves to their text: only their origin is the template's.
        const bool link =
            want.id == IDC_LINK_HOME || want.id == IDC_LINK_MANUAL || want.id == IDC_LINK_LOG;
        if (link) continue;
        EXPECT_EQ(place.right, wanted.right);
        EXPECT_EQ(place.bottom, wanted.bottom);
    }
    EXPECT_EQ(shown.LogLineCount(), 5);  // four notes and the empty line after the last CR LF
}

// The first tick that finds the dialog on screen chooses the mode from the command line.
struct ModeCase {
    const char* commandTail;
    bool automatic;
};

class StartTick : public testing::TestWithParam<ModeCase> {};

TEST_P(StartTick, ChoosesTheModeOnceFromTheCommandLine) {
    Workers().Reset();
    RunningDialog shown(GetParam().commandTail);
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(shown.WaitForStartTick());
    Sleep(1200);  // a second tick must change nothing

    EXPECT_EQ(shown.Dialog().Mode(), GetParam().commandTail);
    EXPECT_EQ(shown.LogText(), std::wstring(kWelcome) + kModeLine);
    EXPECT_EQ(Workers().loadInfoStarts.load(), 1);
    if (GetParam().automatic) {
        EXPECT_EQ(Workers().runStarts.load(), 1);
        EXPECT_FALSE(IsWindowEnabled(shown.Item(IDOK)));
        EXPECT_FALSE(IsWindowEnabled(shown.Item(IDC_STOP)));
        SetEvent(Workers().releaseRun);
        EXPECT_TRUE(WaitUntil([] { return Workers().runsEnded.load() == 1; }));
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(shown.Item(IDOK)) != FALSE; }));
        EXPECT_FALSE(IsWindowEnabled(shown.Item(IDC_STOP)));  // Stop stays off in this mode
        EXPECT_FALSE(shown.Dialog().RunInProgress());
    } else {
        EXPECT_EQ(Workers().runStarts.load(), 0);
        EXPECT_TRUE(IsWindowEnabled(shown.Item(IDOK)));
        EXPECT_TRUE(IsWindowEnabled(shown.Item(IDC_STOP)));
    }
    SetEvent(Workers().releaseRun);
}

INSTANTIATE_TEST_SUITE_P(Modes, StartTick,
                         testing::Values(ModeCase{"AutoUpdate", true},
                                         ModeCase{"autoupdate", false},
                                         ModeCase{" AutoUpdate", false},
                                         ModeCase{"AutoUpdate x", false}, ModeCase{"", false}));

TEST(StartAndStop, OneRunAtATimeAndStopClearsTheDownloadFlag) {
    Workers().Reset();
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(shown.WaitForStartTick());
    const std::wstring beforeStop = shown.LogText();

    Click(dialog, IDC_STOP);  // no run: nothing at all
    EXPECT_EQ(shown.LogText(), beforeStop);

    Click(dialog, IDOK);
    ASSERT_TRUE(WaitUntil([] { return Workers().runStarts.load() == 1; }));
    EXPECT_TRUE(shown.Dialog().RunInProgress());
    EXPECT_TRUE(IsWindow(dialog));  // Start never closes the dialog
    Click(dialog, IDOK);            // a run is in progress: no second one
    Sleep(200);
    EXPECT_EQ(Workers().runStarts.load(), 1);

    ASSERT_TRUE(WaitUntil([&] { return shown.Dialog().DownloadRunning(); }));
    Click(dialog, IDC_STOP);
    EXPECT_EQ(shown.LogText(), beforeStop + kStopLine);
    SetEvent(Workers().releaseRun);
    ASSERT_TRUE(WaitUntil([] { return Workers().runsEnded.load() == 1; }));
    EXPECT_EQ(Workers().flagSeenAtEnd.load(), 0);
    ASSERT_TRUE(WaitUntil([&] { return !shown.Dialog().RunInProgress(); }));

    Click(dialog, IDOK);  // the run has ended: Start starts a new one
    EXPECT_TRUE(WaitUntil([] { return Workers().runStarts.load() == 2; }));
}

// Once the step with rights is asked for, the run cannot be stopped, and a close waits for the
// run's end, said once in the log.
TEST(StartAndStop, DuringTheStepStopIsOffAndClosingWaitsForTheRunsEnd) {
    Workers().Reset();
    Workers().asksForStep = true;
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(shown.WaitForStartTick());
    Click(dialog, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(shown.Item(IDC_STOP)); }));
    const std::wstring beforeStop = shown.LogText();
    Click(dialog, IDC_STOP);
    for (int close = 0; close < 2; ++close) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        Sleep(200);
        EXPECT_TRUE(IsWindow(dialog));
    }
    EXPECT_EQ(shown.LogText(), beforeStop + L"* 正在安装新版本,完成后将自动关闭…\r\n");
    SetEvent(Workers().releaseRun);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
    EXPECT_EQ(Workers().flagSeenAtEnd.load(), 1) << "the step's run was stopped";
}

// Messages that arrive outside the dialog's own order of events change nothing: another
// timer's tick, the first tick's message again, IDOK while Start is off.
TEST(StartTick, OnlyTheStartTimersFirstTickDecidesAndIdokNeedsStart) {
    Workers().Reset();
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);
    SendMessageW(dialog, WM_TIMER, 7, 0);  // another timer, before the first tick
    Click(dialog, IDOK);                   // Start is still disabled
    EXPECT_EQ(Workers().loadInfoStarts.load(), 0);
    EXPECT_EQ(Workers().runStarts.load(), 0);
    EXPECT_FALSE(IsWindowEnabled(shown.Item(IDOK)));

    ASSERT_TRUE(shown.WaitForStartTick());
    SendMessageW(dialog, WM_TIMER, 1, 0);  // the start-up timer's message again
    EXPECT_EQ(Workers().loadInfoStarts.load(), 1);
    EXPECT_EQ(shown.LogText(), std::wstring(kWelcome) + kModeLine);

    Click(dialog, IDOK);
    ASSERT_TRUE(WaitUntil([] { return Workers().runStarts.load() == 1; }));
    ASSERT_FALSE(IsWindowEnabled(shown.Item(IDOK)));  // the run holds Start
    SendMessageW(dialog, WM_TIMER, 1, 0);
    EXPECT_FALSE(IsWindowEnabled(shown.Item(IDOK)));
    SetEvent(Workers().releaseRun);
    ASSERT_TRUE(WaitUntil([] { return Workers().runsEnded.load() == 1; }));
}

std::atomic<int> g_helpRequests{0};
std::atomic<int> g_helpCommands{0};

LRESULT CALLBACK SeeHelpRequests(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    // Counted where the dialog gets it (a control passes the request on to its parent).
    if (code == HC_ACTION && sent->message == WM_HELP &&
        GetAncestor(sent->hwnd, GA_ROOT) == sent->hwnd)
        ++g_helpRequests;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK SeeHelpCommands(int code, WPARAM wParam, LPARAM lParam) {
    const auto* posted = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && posted->message == WM_COMMAND &&
        LOWORD(posted->wParam) == ID_HELP)
        ++g_helpCommands;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

int VisibleWindowsOfThisProcess() {
    int count = 0;
    EnumWindows(
        [](HWND window, LPARAM counted) CALLBACK -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window))
                ++*reinterpret_cast<int*>(counted);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

bool HelpProgramRuns() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = _wcsicmp(entry.szExeFile, L"winhlp32.exe") == 0;
    CloseHandle(snapshot);
    return found;
}

// No help file is shipped: the help command and F1 reach the dialog and open nothing, not
// even a box about the missing file, and the dialog goes on working.
TEST(DialogHelp, TheHelpCommandAndF1OpenNothingWithoutAHelpFile) {
    ASSERT_EQ(GetFileAttributesW(HelpFilePath().c_str()), INVALID_FILE_ATTRIBUTES);
    Workers().Reset();
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(shown.WaitForStartTick());
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(shown.Item(IDOK)) != FALSE; }));
    const int windowsBefore = VisibleWindowsOfThisProcess();
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    HHOOK sent = SetWindowsHookExW(WH_CALLWNDPROC, SeeHelpRequests, nullptr, thread);
    HHOOK posted = SetWindowsHookExW(WH_GETMESSAGE, SeeHelpCommands, nullptr, thread);
    ASSERT_NE(sent, nullptr);
    ASSERT_NE(posted, nullptr);

    PostMessageW(dialog, WM_COMMAND, ID_HELP, 0);
    EXPECT_TRUE(WaitUntil([] { return g_helpCommands.load() == 1; }));
    // F1 from the keyboard, as the system delivers it to the window that has the focus. The
    // desktop is shared with other tests, which may take the foreground meanwhile: try again.
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = VK_F1;
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    for (int attempt = 0; attempt < 5 && g_helpRequests.load() == 0; ++attempt) {
        SetForegroundWindow(dialog);
        if (!WaitUntil([&] { return GetForegroundWindow() == dialog; }, 1000)) continue;
        SendInput(2, keys, sizeof(INPUT));
        WaitUntil([] { return g_helpRequests.load() > 0; }, 1000);
    }
    EXPECT_GE(g_helpRequests.load(), 1) << "F1 reached the dialog as a help request";
    Sleep(300);  // what a help request would open, given the time to appear
    UnhookWindowsHookEx(sent);
    UnhookWindowsHookEx(posted);

    EXPECT_EQ(VisibleWindowsOfThisProcess(), windowsBefore);
    EXPECT_FALSE(HelpProgramRuns());
    EXPECT_TRUE(IsWindowEnabled(dialog));  // no modal box holds it
    Click(dialog, IDOK);
    EXPECT_TRUE(WaitUntil([] { return Workers().runStarts.load() == 1; }));
    EXPECT_TRUE(WaitUntil([] { return Workers().runsEnded.load() == 1; }));
}

// Anyone on the desktop can post to the dialog: a forged log hand-off carries no line, and a
// forged notice of 100 finishes nothing.
TEST(ForeignMessages, CarryNothingTheDialogWouldFollow) {
    Workers().Reset();
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    HWND dialog = shown.Window();
    ASSERT_TRUE(shown.WaitForStartTick());
    const std::wstring before = shown.LogText();
    PostMessageW(dialog, WM_REPORT_QUEUED, 0, 0x400000);
    SendMessageW(dialog, WM_REPORT_QUEUED, 0x1234, 0x10);
    PostMessageW(dialog, WM_DOWNLOAD_PROGRESS, 100, 0x400000);
    // Posted messages are handled in their order: once the last one shows, all have been.
    EXPECT_TRUE(WaitUntil([&] { return TextOf(shown.Item(IDC_PERCENT)) == L"100%"; }));
    SendMessageW(dialog, WM_NULL, 0, 0);
    EXPECT_TRUE(IsWindow(dialog));  // shown, but nothing finished
    EXPECT_EQ(shown.LogText(), before);

    // Lines and an emptying of the panel from several threads keep their order.
    std::thread other([&] { shown.Dialog().AppendLog("* 甲"); });
    other.join();
    shown.Dialog().ClearLog();
    std::thread again([&] { shown.Dialog().AppendLog("* 乙"); });
    again.join();
    EXPECT_EQ(shown.LogText(), L"* 乙\r\n");
}

// The file bar follows the download's notices, on a scale of 0 to 100.
TEST(FileProgress, ShowsTheLastNotice) {
    Workers().Reset();
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    ASSERT_TRUE(shown.WaitForStartTick());
    for (WPARAM percent : {40, 80}) SendMessageW(shown.Window(), WM_DOWNLOAD_PROGRESS, percent, 0);
    HWND bar = shown.Item(IDC_FILE_PROGRESS);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 80);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
}

// A worker's binding: the settings it reads once, and each report landing on its control;
// once the dialog has gone, every call says so and the run counts as stopped.
TEST(DialogRun, ReadsTheSettingsOnceAndEachReportLandsOnItsControl) {
    Workers().Reset();
    SetEvent(Workers().releaseRun);
    RunningDialog shown("");
    ASSERT_TRUE(shown.WaitForStartTick());
    DialogRun run(&shown.Dialog());
    ASSERT_TRUE(run.Bound());
    const RunSettings& settings = run.Settings();
    EXPECT_EQ(settings.checkUrl, "http://127.0.0.1:9/freeUpdate/isweb.asp");
    EXPECT_EQ(settings.updateUrl, "http://127.0.0.1:9/freeUpdate/update.asp?action=Auto");
    EXPECT_EQ(settings.manualUrl, "http://127.0.0.1:9/freeUpdate/update.asp?action=Hand");
    EXPECT_EQ(settings.logUrl, "http://127.0.0.1:9/freeUpdate/log.asp");
    EXPECT_EQ(settings.noticeWindow, shown.Window());
    EXPECT_TRUE(settings.mainProgram.ends_with(L"\\Tanvik体验版.exe"));

    HWND stage = shown.Item(IDC_STAGE_PROGRESS);
    ASSERT_TRUE(run.Stage(3));
    ASSERT_TRUE(run.RunBegun());
    EXPECT_FALSE(IsWindowEnabled(shown.Item(IDOK)));
    EXPECT_EQ(SendMessageW(stage, PBM_GETRANGE, FALSE, 0), 3);
    EXPECT_EQ(SendMessageW(stage, PBM_GETPOS, 0, 0), 0);
    ASSERT_TRUE(run.Stage(2));
    EXPECT_EQ(SendMessageW(stage, PBM_GETPOS, 0, 0), 2);
    ASSERT_TRUE(run.Download({37, "512KB", "64KB/S", "37%"}));
    EXPECT_EQ(TextOf(shown.Item(IDC_FILE_SIZE)), L"512KB");
    EXPECT_EQ(TextOf(shown.Item(IDC_SPEED)), L"64KB/S");
    EXPECT_EQ(TextOf(shown.Item(IDC_PERCENT)), L"37%");
    ASSERT_TRUE(run.Links({"http://h/", "http://h/log.asp", std::nullopt}));
    EXPECT_FALSE(IsWindowEnabled(shown.Item(IDC_LINK_MANUAL)));
    ASSERT_TRUE(run.Title("在线自动更新程序 V2.0.1.5"));
    EXPECT_EQ(TextOf(shown.Window()), L"在线自动更新程序 V2.0.1.5");
    ASSERT_TRUE(run.ClearLog());
    ASSERT_TRUE(run.Log("* 甲"));
    EXPECT_EQ(shown.LogText(), L"* 甲\r\n");
    ASSERT_TRUE(run.RunEnded());
    EXPECT_TRUE(IsWindowEnabled(shown.Item(IDOK)));
    EXPECT_TRUE(run.Reachable());

    shown.Close();
    EXPECT_FALSE(run.Reachable());
    EXPECT_FALSE(run.Log("* 乙"));
    EXPECT_TRUE(run.Control().StopRequested());
    run.Control().End();  // nothing left to clear, and nothing breaks
}

class LogPanel : public testing::Test {
protected:
    void SetUp() override {
        Workers().Reset();
        SetEvent(Workers().releaseRun);
        ASSERT_NE(m_shown.Window(), nullptr);
        ASSERT_TRUE(m_shown.WaitForStartTick());
        ASSERT_EQ(m_shown.LogLineCount(), 6);
    }
    // Appends short lines from this (non-dialog) thread until the panel shows `count` lines.
    void FillTo(int count) {
        for (int i = 0; m_shown.LogLineCount() < count && i < 200; ++i)
            m_shown.Dialog().AppendLog("* filler");
        ASSERT_EQ(m_shown.LogLineCount(), count);
    }
    void ExpectCaretAtEnd() {
        DWORD start = 0, end = 0;
        SendMessageW(m_shown.Item(IDC_LOG), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        const auto length = m_shown.LogText().size();
        EXPECT_EQ(start, length);
        EXPECT_EQ(end, length);
    }
    RunningDialog m_shown{""};
};

TEST_F(LogPanel, GrowsALineAtATimeAndStartsOverAtOneHundred) {
    m_shown.Dialog().AppendLog("* 一行");
    EXPECT_EQ(m_shown.LogLineCount(), 7);
    ExpectCaretAtEnd();

    FillTo(99);
    m_shown.Dialog().AppendLog("* 第九十九行");
    EXPECT_EQ(m_shown.LogLineCount(), 100);
    EXPECT_GT(SendMessageW(m_shown.Item(IDC_LOG), EM_GETFIRSTVISIBLELINE, 0, 0), 0);  // in view
    ExpectCaretAtEnd();

    m_shown.Dialog().AppendLog("* 新的开始");
    EXPECT_EQ(m_shown.LogText(), L"* 新的开始\r\n");
    EXPECT_EQ(m_shown.LogLineCount(), 2);
    ExpectCaretAtEnd();
}

TEST_F(LogPanel, AWrappedLineThatStepsOverOneHundredStillEmptiesIt) {
    FillTo(99);
    GbkString longLine("* ");
    for (int i = 0; i < 40; ++i) longLine += "很长的一行";
    m_shown.Dialog().AppendLog(longLine);
    ASSERT_GT(m_shown.LogLineCount(), 100);
    m_shown.Dialog().AppendLog("* 下一行");
    EXPECT_EQ(m_shown.LogText(), L"* 下一行\r\n");
}

TEST_F(LogPanel, FourThreadsLoseNoLine) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t] {
            for (int n = 0; n < kLines; ++n) {
                GbkString line;
                line.Format("* t%d n%03d", t, n);
                m_shown.Dialog().AppendLog(line);
            }
        });
    }
    for (auto& writer : writers) writer.join();

    // What the panel must hold if every line arrived: five lines before, then 800 appends,
    // each starting over when the panel shows 100 display lines.
    int textLines = 5;
    for (int i = 0; i < kThreads * kLines; ++i) {
        if (textLines + 1 >= 100) textLines = 0;
        ++textLines;
    }
    const std::wstring text = m_shown.LogText();
    std::map<int, std::vector<int>> byThread;
    size_t at = 0;
    int lines = 0;
    while (at < text.size()) {
        const size_t end = text.find(L"\r\n", at);
        ASSERT_NE(end, std::wstring::npos);
        int t = -1, n = -1;
        ASSERT_EQ(swscanf(text.substr(at, end - at).c_str(), L"* t%d n%d", &t, &n), 2);
        byThread[t].push_back(n);
        ++lines;
        at = end + 2;
    }
    EXPECT_EQ(lines, textLines);
    for (const auto& [thread, numbers] : byThread) {
        // Each thread's lines since the last start-over: consecutive, ending with its last.
        EXPECT_EQ(numbers.back(), kLines - 1) << "thread " << thread;
        for (size_t i = 1; i < numbers.size(); ++i)
            EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "thread " << thread;
    }
}

// Closing the dialog while workers write to it: no crash, no hang, workers find it gone.
namespace {
struct BusyWriter {
    UpdateDialog* dialog;
    std::atomic<int>* appended;
};

DWORD WINAPI WriteUntilClosed(LPVOID parameter) {
    const auto* writer = static_cast<const BusyWriter*>(parameter);
    DialogRun run(writer->dialog);
    // Busy as a download is: figures and a stage per step, now and then a log line.
    const DownloadFigures figures{50, "1KB", "1KB/S", "50%"};
    for (int step = 0;; ++step) {
        if (!run.Download(figures) || !run.Stage(step % 4)) return 0;
        if (step % 16 == 0 && !run.Log("* busy")) return 0;
        ++*writer->appended;
        Sleep(1);
    }
}
}  // namespace

TEST(DialogLifetime, ClosingWhileWorkersWriteNeitherCrashesNorHangs) {
    Workers().Reset();
    SetEvent(Workers().releaseRun);
    for (int round = 0; round < 3; ++round) {
        RunningDialog shown("");
        ASSERT_NE(shown.Window(), nullptr);
        std::atomic<int> appended{0};
        BusyWriter writer{&shown.Dialog(), &appended};
        std::vector<HANDLE> workers;
        for (int t = 0; t < 4; ++t)
            workers.push_back(CreateThread(nullptr, 0, WriteUntilClosed, &writer, 0, nullptr));
        ASSERT_TRUE(WaitUntil([&] { return appended.load() > 50; }));
        shown.Close();
        EXPECT_EQ(
            WaitForMultipleObjects(static_cast<DWORD>(workers.size()), workers.data(), TRUE, 10000),
            WAIT_OBJECT_0);
        for (HANDLE handle : workers) CloseHandle(handle);
    }
}
