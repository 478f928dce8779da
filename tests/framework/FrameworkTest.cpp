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
#include "ReadingPace.h"
#include "ResumableGet.h"
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

TEST(ReadingPace, LargeReadsOnlyWhileDataAlwaysWaitsAndSilenceFromTheLastByte) {
    struct Step {
        DWORD atMs;
        bool waited;  // nothing was held: the transfer waited for a byte first
        DWORD held;   // what WinINet holds then
        DWORD asked;  // what is read
        DWORD got;
        bool silentSoon;  // half a second later, with a limit of one second
    };
    // One transfer's reads, in order, with a buffer of 100,000 bytes and stretches of 10 ms.
    const Step steps[] = {
        {2, false, 8000, 8000, 8000, false},  // no pace seen yet: only what is held
        {6, false, 8000, 8000, 8000, false},
        {9, false, 8000, 8000, 8000, false},     // 24,000 bytes in 10 ms, data always waiting
        {11, false, 8000, 24000, 24000, false},  // then as much at once
        {14, false, 100, 24000, 24000, false},
        {22, true, 100, 100, 100, false},      // the link is slower now: it waited...
        {30, false, 8000, 8000, 8000, false},  // ...so only what is held
        {900, true, 100, 100, 0, true},        // silence counts from the last byte
        {1500, true, 100, 100, 100, false},
    };
    ReadingPace pace(100000, 1000, 0);
    EXPECT_FALSE(pace.SilenceOver(999));
    EXPECT_TRUE(pace.SilenceOver(1000));
    for (const Step& step : steps) {
        if (step.waited) pace.Waited(ReadingPace::kShortWaitMs, step.atMs);
        EXPECT_EQ(pace.ReadSize(step.held, step.atMs), step.asked) << step.atMs;
        pace.Read(step.got, step.atMs);
        EXPECT_EQ(pace.SilenceOver(step.atMs + 500), step.silentSoon) << step.atMs;
    }
    EXPECT_EQ(pace.ReadSize(500000, 1510), 100000u) << "never more than a buffer";
    // A fast link caught between two packets is still a fast link.
    ReadingPace fast(100000, 1000, 0);
    fast.Read(30000, 2);
    fast.Waited(ReadingPace::kShortWaitMs - 1, 12);
    EXPECT_EQ(fast.ReadSize(100, 12), 30000u);
    // Reading ahead by less than an eighth of the buffer is not worth a read that may wait.
    ReadingPace modest(100000, 1000, 0);
    modest.Read(12000, 2);
    EXPECT_EQ(modest.ReadSize(100, 12), 100u);
    pace.Heard(5000);  // a reply's head
    EXPECT_FALSE(pace.SilenceOver(5999));
    EXPECT_TRUE(pace.SilenceOver(6000));
}

TEST(Resume, OnlyAStrongEtagOrAnOldEnoughDateNamesTheBody) {
    const std::wstring date = L"Mon, 07 Dec 2026 20:00:00 GMT";
    struct Case {
        const wchar_t* etag;
        const wchar_t* lastModified;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"\"abc\"", L"", L"\"abc\""},
        {L"\"abc\"", L"Mon, 01 Jan 2024 00:00:00 GMT", L"\"abc\""},
        {L"W/\"abc\"", L"", L""},
        {L"W/\"abc\"", L"Mon, 01 Jan 2024 00:00:00 GMT", L"Mon, 01 Jan 2024 00:00:00 GMT"},
        {L"", L"Mon, 07 Dec 2026 19:59:59 GMT", L"Mon, 07 Dec 2026 19:59:59 GMT"},
        {L"", L"Mon, 07 Dec 2026 20:00:00 GMT", L""},  // changed within its second
        {L"", L"Mon, 07 Dec 2026 20:00:05 GMT", L""},
        {L"", L"yesterday", L""},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        HttpResponseInfo reply;
        reply.etag = c.etag;
        reply.lastModified = c.lastModified;
        reply.date = date;
        EXPECT_EQ(ResumeValidator(reply), c.expected) << c.etag << L" " << c.lastModified;
    }
    HttpResponseInfo undated;
    undated.lastModified = L"Mon, 01 Jan 2024 00:00:00 GMT";
    EXPECT_EQ(ResumeValidator(undated), L"") << "no Date to compare with";
}

// A 206 is spliced onto the part in hand only when everything in its head says it is the rest
// of that very body.
TEST(Resume, OnlyTheRestOfTheBodyInHandIsTakenFromA206) {
    const std::wstring etag = L"\"v1\"", date = L"Mon, 01 Jan 2024 00:00:00 GMT";
    struct Case {
        const char* name;
        std::wstring validator, contentRange;
        bool hasLength;
        uint64_t length;
        std::wstring etag, lastModified, encoding;
        bool rest;
    };
    const Case cases[] = {
        {"the rest", etag, L"bytes 500-999/1000", true, 500, etag, L"", L"", true},
        {"the rest, chunked", etag, L"bytes 500-999/1000", false, 0, etag, L"", L"", true},
        {"the rest, identity", etag, L"bytes 500-999/1000", true, 500, etag, L"", L"identity",
         true},
        {"its own length short", etag, L"bytes 500-999/1000", true, 499, etag, L"", L"", false},
        {"its own length long", etag, L"bytes 500-999/1000", true, 508, etag, L"", L"", false},
        {"another ETag", etag, L"bytes 500-999/1000", true, 500, L"\"b\"", L"", L"", false},
        {"a weak ETag", etag, L"bytes 500-999/1000", true, 500, L"W/\"v1\"", L"", L"", false},
        {"no ETag", etag, L"bytes 500-999/1000", true, 500, L"", L"", L"", false},
        {"gzip", etag, L"bytes 500-999/1000", true, 500, etag, L"", L"gzip", false},
        {"from elsewhere", etag, L"bytes 400-999/1000", true, 600, etag, L"", L"", false},
        {"not to the end", etag, L"bytes 500-998/1000", true, 499, etag, L"", L"", false},
        {"another length", etag, L"bytes 500-1099/1100", true, 600, etag, L"", L"", false},
        {"no Content-Range", etag, L"", true, 500, etag, L"", L"", false},
        {"by date", date, L"bytes 500-999/1000", true, 500, L"", date, L"", true},
        {"by date, no date given", date, L"bytes 500-999/1000", true, 500, L"", L"", L"", true},
        {"by date, a weak ETag", date, L"bytes 500-999/1000", true, 500, L"W/\"x\"", date, L"",
         true},
        {"by date, another date", date, L"bytes 500-999/1000", true, 500, L"",
         L"Tue, 02 Jan 2024 00:00:00 GMT", L"", false},
        {"by date, a strong ETag", date, L"bytes 500-999/1000", true, 500, etag, date, L"", false},
    };
    for (const Case& c : cases) {
        HttpResponseInfo reply;
        reply.status = 206;
        reply.contentRange = c.contentRange;
        reply.hasLength = c.hasLength;
        reply.length = c.length;
        reply.etag = c.etag;
        reply.lastModified = c.lastModified;
        reply.encoding = c.encoding;
        EXPECT_EQ(IsRestOfBody(reply, {500, 1000, c.validator}), c.rest) << c.name;
    }
}

TEST(Resume, BusyServersAreAskedAgainAsLateAsTheyAskWithin) {
    for (DWORD status : {0u, 408u, 429u, 500u, 502u, 503u, 504u})
        EXPECT_TRUE(IsPassingFailure(status)) << status;
    for (DWORD status : {200u, 206u, 301u, 400u, 403u, 404u, 410u, 416u})
        EXPECT_FALSE(IsPassingFailure(status)) << status;
    struct Case {
        const wchar_t* retryAfter;
        DWORD ms;
    };
    const Case cases[] = {
        {L"7", 7000},
        {L"0", 0},
        {L"Mon, 07 Dec 2026 20:00:30 GMT", 30000},
        {L"Mon, 07 Dec 2026 19:00:00 GMT", 0},  // already past
        {L"99999999999999999999", 0},           // unreadable
        {L"1000000", 86400000},                 // a day at most
        {L"-5", 0},
        {L"soon", 0},
        {L"", 0},
    };
    for (const Case& c : cases) {
        HttpResponseInfo reply;
        reply.date = L"Mon, 07 Dec 2026 20:00:00 GMT";
        reply.retryAfter = c.retryAfter;
        EXPECT_EQ(RetryAfterMs(reply), c.ms) << c.retryAfter;
    }
}

TEST(Resume, AContentRangeIsReadWholeOrNotAtAll) {
    struct Case {
        const wchar_t* text;
        bool read;
        uint64_t first, last, total;
    };
    const Case cases[] = {
        {L"bytes 100-199/200", true, 100, 199, 200},
        {L"bytes 0-0/1", true, 0, 0, 1},
        {L"bytes 5000000000-5000000099/5000000100", true, 5000000000ULL, 5000000099ULL,
         5000000100ULL},
        {L"bytes 100-199/*", false, 0, 0, 0},
        {L"bytes */200", false, 0, 0, 0},
        {L"bytes 200-100/300", false, 0, 0, 0},
        {L"bytes 100-200/200", false, 0, 0, 0},
        {L"items 100-199/200", false, 0, 0, 0},
        {L"bytes 100-199/200 ", false, 0, 0, 0},
        {L"", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        uint64_t first = 0, last = 0, total = 0;
        EXPECT_EQ(ParseContentRange(c.text, first, last, total), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(first, c.first) << c.text;
            EXPECT_EQ(last, c.last) << c.text;
            EXPECT_EQ(total, c.total) << c.text;
        }
    }
}
