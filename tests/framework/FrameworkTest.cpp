// The framework's own rules: GBK strings, command-line tails, code page 936, worker threads
// and the lifetime guard between a window's thread and its workers.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <thread>

#include "CodePage.h"
#include "CommandLine.h"
#include "GbkString.h"
#include "ObjectLifetime.h"
#include "WorkerThread.h"

TEST(GbkString, MidClampsLikeTheReplyParserNeeds) {
    const GbkString text("#2.0.1.5#http://x/a.exe#");
    EXPECT_EQ(text.Mid(1, 7), "2.0.1.5");
    EXPECT_EQ(text.Mid(-5, 1), "#");                         // a start below 0 counts as 0
    EXPECT_EQ(text.Mid(3, -2), "");                          // a negative length gives nothing
    EXPECT_EQ(text.Mid(20, 100), "exe#");                    // a range past the end stops there
    EXPECT_EQ(text.Mid(24, 3), "");                          // a start at the end
    EXPECT_EQ(text.Mid(99, 3), "");                          // a start past the end
    EXPECT_EQ(text.Mid(5, INT_MAX), "1.5#http://x/a.exe#");  // no overflow
    EXPECT_EQ(text.Mid(9), "http://x/a.exe#");
    EXPECT_EQ(GbkString("abc").Mid(-1), "abc");
}

TEST(GbkString, FindFromAPositionWalksWholeCharacters) {
    const GbkString record("x#1.0#addr#");
    EXPECT_EQ(record.Find("#"), 1);
    EXPECT_EQ(record.Find("#", 2), 5);
    EXPECT_EQ(record.Find("#", 6), 10);
    EXPECT_EQ(record.Find("#", 11), -1);
    EXPECT_EQ(record.Find("#", 12), -1);  // past the end
    EXPECT_EQ(record.Find("#", -3), 1);
    EXPECT_EQ(GbkString("").Find("#"), -1);
    // "丂" is 0x81 0x40 in GBK: its second byte is "@", which must not be found there.
    const GbkString mixed("\x81\x40@");
    EXPECT_EQ(mixed.Find("@"), 2);
    EXPECT_EQ(GbkString("更新@").Find("@"), 4);
}

TEST(GbkString, FormatConcatenateAndCompareBytes) {
    GbkString version;
    version.Format("%u.%u.%u.%u", 3u, 0u, 65535u, 7u);
    EXPECT_EQ(version, "3.0.65535.7");
    GbkString url = GbkString("http://h/") + "freeUpdate/" + GbkString("isweb.asp");
    EXPECT_EQ(url, "http://h/freeUpdate/isweb.asp");
    EXPECT_FALSE(GbkString("AutoUpdate") == "autoupdate");
    EXPECT_FALSE(GbkString("AutoUpdate ") == "AutoUpdate");
    EXPECT_EQ(GbkString("中文").GetLength(), 4);  // GBK: two bytes a character
}

TEST(CommandLine, TailFollowsTheProgramName) {
    EXPECT_EQ(CommandLineTail(LR"("C:\Program Files\Qv\updater.exe" AutoUpdate)"), L"AutoUpdate");
    EXPECT_EQ(CommandLineTail(LR"(C:\Qv\updater.exe AutoUpdate)"), L"AutoUpdate");
    EXPECT_EQ(CommandLineTail(L"updater.exe \t\x01 AutoUpdate x "), L"AutoUpdate x ");
    EXPECT_EQ(CommandLineTail(LR"("C:\a b\u.exe"AutoUpdate)"), L"AutoUpdate");
    EXPECT_EQ(CommandLineTail(L"updater.exe"), L"");
    EXPECT_EQ(CommandLineTail(L"updater.exe   "), L"");
    EXPECT_EQ(CommandLineTail(LR"("C:\unterminated quote AutoUpdate)"), L"");
    EXPECT_EQ(CommandLineTail(L""), L"");
}

TEST(CodePage, ConvertsWithCodePage936WhateverTheAnsiCodePage) {
    const std::wstring wide = L"在线自动更新程序 （正在获取版本号）";
    const GbkString gbk = ToGbk(wide);
    EXPECT_EQ(gbk, "在线自动更新程序 （正在获取版本号）");  // the compiled GBK bytes
    EXPECT_EQ(ToWide(gbk), wide);
    EXPECT_EQ(ToWide(std::string_view("")), L"");
    EXPECT_EQ(ToGbk(L""), "");
}

namespace {
UINT ReturnParameter(LPVOID parameter) {
    auto* flag = static_cast<std::atomic<int>*>(parameter);
    flag->store(1);
    return 0;
}
}  // namespace

TEST(WorkerThread, SuspendedThreadRunsOnlyAfterResume) {
    std::atomic<int> ran{0};
    WorkerThread* worker = WorkerThread::Start(ReturnParameter, &ran, true);
    ASSERT_NE(worker, nullptr);
    Sleep(100);
    EXPECT_EQ(ran.load(), 0);
    worker->Resume();
    for (int i = 0; i < 500 && ran.load() == 0; ++i) Sleep(10);
    EXPECT_EQ(ran.load(), 1);
}

TEST(ObjectLifetime, AccessOnlyWhileTheObjectLives) {
    int object = 0;
    EXPECT_FALSE(ObjectLifetime::Access(&object));  // never begun
    ObjectLifetime::Begin(&object);
    {
        ObjectLifetime::Access first(&object);
        ObjectLifetime::Access nested(&object);
        EXPECT_TRUE(first);
        EXPECT_TRUE(nested);
    }
    ObjectLifetime::Retire(&object);
    EXPECT_FALSE(ObjectLifetime::Access(&object));
    ObjectLifetime::Retire(&object);  // twice is harmless
}

TEST(ObjectLifetime, RetireWaitsForTheAccessInProgress) {
    int object = 0;
    ObjectLifetime::Begin(&object);
    std::atomic<bool> inside{false};
    std::atomic<bool> released{false};
    std::thread worker([&] {
        ObjectLifetime::Access access(&object);
        inside = true;
        Sleep(300);
        released = true;
    });
    while (!inside) Sleep(1);
    ObjectLifetime::Retire(&object);
    EXPECT_TRUE(released.load());  // Retire came back only after the access ended
    worker.join();
}

namespace {
constexpr UINT kPing = WM_APP + 7;
LRESULT CALLBACK PingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kPing) return 42;
    return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

TEST(ObjectLifetime, RetireServesAWorkerThatIsSendingToItsThread) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QvPingWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"QvPingWindow", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);

    int object = 0;
    ObjectLifetime::Begin(&object);
    std::atomic<bool> inside{false};
    DWORD_PTR answer = 0;
    LRESULT sent = 0;
    std::thread worker([&] {
        ObjectLifetime::Access access(&object);
        inside = true;
        Sleep(100);  // let the owner start retiring
        sent = SendMessageTimeoutW(window, kPing, 0, 0, SMTO_NORMAL, 5000, &answer);
    });
    while (!inside) Sleep(1);
    ObjectLifetime::Retire(&object);  // would deadlock if it did not serve the message
    worker.join();
    EXPECT_NE(sent, 0);
    EXPECT_EQ(answer, 42u);
    DestroyWindow(window);
}
