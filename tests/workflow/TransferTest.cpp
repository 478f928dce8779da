// Requests and downloads against the tests' HTTP server: every way a reply can go wrong, and
// what is left on disk after each.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "CodePage.h"
#include "DownloadHarness.h"
#include "ProgramImages.h"
#include "ServerProtocol.h"
#include "StagedFile.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

TestHttpServer& Server() {
    static TestHttpServer server;
    return server;
}

GbkString Url(const std::string& target) {
    return GbkString(Server().BaseUrl() + target.substr(1));
}

std::string ProgramBytes(size_t size, char seed) {
    std::string bytes = "MZ";
    for (size_t i = 2; i < size; ++i) bytes += static_cast<char>((i * 131 + seed) & 0xFF);
    return bytes;
}

// The same with a program's headers of that shape.
std::string ProgramShaped(const ImageShape& shape, size_t size, char seed) {
    std::string bytes = ProgramBytes(size, seed);
    const std::string head = ImageHead(shape);
    bytes.replace(0, head.size(), head);
    if (shape.symbolTableOffset != 0)
        PutLittleEndian(bytes, StringTableAt(shape), shape.stringTableBytes, 4);
    return bytes;
}

// One section that runs to the end.
std::string ProgramWithHeaders(size_t size, char seed) {
    return ProgramShaped({.sections = {{0x400, static_cast<uint32_t>(size - 0x400)}}}, size, seed);
}

// As a linker leaves a program: sections, then the symbols and their strings to the end.
constexpr uint32_t kSymbolsAt = 0x18400;
constexpr uint32_t kStringsAt = kSymbolsAt + 2000 * 18;
std::string ProgramWithSymbols(size_t size, char seed) {
    return ProgramShaped({.sections = {{0x400, kSymbolsAt - 0x400}},
                          .symbolTableOffset = kSymbolsAt,
                          .symbolCount = 2000,
                          .stringTableBytes = static_cast<uint32_t>(size - kStringsAt)},
                         size, seed);
}

}  // namespace

TEST(FetchText, RepliesAndFailures) {
    struct Case {
        const char* name;
        Reply reply;
        std::string expected;
    };
    const Case cases[] = {
        {"line", {.body = "true\r\n"}, "true"},
        {"lines", {.body = "#1.0.0.2#\r\nhttp://h/a.exe\r\n#"}, "#1.0.0.2#http://h/a.exe#"},
        {"empty", {.body = ""}, ""},
        {"chunked", {.body = "true", .behaviour = Behaviour::Chunked, .pieceBytes = 2}, "true"},
        {"not found", {.status = 404, .body = "<html>true</html>"}, "error"},
        {"server error", {.status = 500, .body = "true"}, "error"},
        {"broken",
         {.body = "line1\r\nline2\r\n", .behaviour = Behaviour::DropAfter, .afterBytes = 7},
         "error"},
        {"short",
         {.body = "true", .contentLength = ContentLength::Announced, .announcedLength = 40},
         "error"},
    };
    for (const Case& c : cases) {
        Server().Script("/fetch", c.reply);
        GbkString reply = "stale";
        FetchText(Url("/fetch"), reply);
        EXPECT_EQ(reply.Bytes(), c.expected) << c.name;
    }
    GbkString reply = "stale";
    FetchText("http://127.0.0.1:1/freeUpdate/isweb.asp", reply);  // nothing listens there
    EXPECT_EQ(reply.Bytes(), "error");
}

TEST(FetchText, AStopEndsARequestToASilentServer) {
    Server().Script("/silent", {.body = "true and more",
                                .behaviour = Behaviour::StallAfter,
                                .afterBytes = 2,
                                .stallSeconds = 20});
    GbkString reply;
    const DWORD start = GetTickCount();
    FetchText(Url("/silent"), reply, [start] { return GetTickCount() - start > 300; });
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(reply.Bytes(), "error");
}

class Download : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        Server().Script("/new.exe", {.body = m_new});
    }
    void ExpectInstalled(const std::string& bytes, const char* name) {
        std::string now;
        ASSERT_TRUE(ReadFileBytes(m_target, now)) << name;
        EXPECT_TRUE(now == bytes) << name << ": the installed file is neither whole version";
        EXPECT_FALSE(FileExists(StagedFile::TemporaryPath(m_target))) << name;
    }
    void ExpectUnchanged(const DownloadRun& run, const char* name) {
        ExpectInstalled(m_old, name);
        for (int notice : run.notices) EXPECT_LT(notice, 100) << name;
    }

    TempDir m_folder{L"下载 测试"};
    std::wstring m_target = m_folder.File(L"Tanvik体验版.exe");
    std::string m_old = ProgramBytes(30000, 1);
    std::string m_new = ProgramWithHeaders(200000, 7);
    std::string m_symbols = ProgramWithSymbols(200000, 9);
};

TEST_F(Download, ACompleteBodyReplacesTheProgramAndOnlyThenNotifiesOneHundred) {
    struct Case {
        const char* name;
        const char* target;
        Reply reply;
        std::vector<int> firstNotices;
        std::string installed{};  // the body served at /new.exe when empty
    };
    const std::string overlaid = m_new + ProgramBytes(5000, 3).substr(2);
    const Case cases[] = {
        {"with length", "/full.exe", {.body = m_new}, {}},
        {"no length",
         "/nolength.exe",
         {.body = m_new, .contentLength = ContentLength::Absent},
         {0}},
        {"chunked", "/chunked.exe", {.body = m_new, .behaviour = Behaviour::Chunked}, {0}},
        {"no length, with symbols",
         "/symbols.exe",
         {.body = m_symbols, .contentLength = ContentLength::Absent},
         {0},
         m_symbols},
        {"chunked, with symbols",
         "/chunked-symbols.exe",
         {.body = m_symbols, .behaviour = Behaviour::Chunked},
         {0},
         m_symbols},
        {"no length, with bytes past all its headers name",
         "/overlaid.exe",
         {.body = overlaid, .contentLength = ContentLength::Absent},
         {0},
         overlaid},
        {"302", "/moved.exe", {.status = 302, .location = "/new.exe"}, {}},
        {"307", "/moved-too.exe", {.status = 307, .location = "/new.exe"}, {}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        Server().Script(c.target, c.reply);
        const DownloadRun run = RunDownload(Url(c.target), m_target);
        EXPECT_EQ(run.result, 0) << c.name;
        ExpectInstalled(c.installed.empty() ? m_new : c.installed, c.name);
        ASSERT_FALSE(run.notices.empty()) << c.name;
        EXPECT_EQ(run.notices.back(), 100) << c.name;
        EXPECT_EQ(std::count(run.notices.begin(), run.notices.end(), 100), 1) << c.name;
        EXPECT_TRUE(std::is_sorted(run.notices.begin(), run.notices.end())) << c.name;
        EXPECT_TRUE(run.replacedBeforeHundred) << c.name;
        if (!c.firstNotices.empty()) {
            EXPECT_EQ(run.notices.front(), c.firstNotices.front()) << c.name;
        }
        // The labels show the last chunk's figures.
        EXPECT_EQ(run.percentLabel, c.firstNotices.empty() ? L"100%" : L"0%") << c.name;
        EXPECT_EQ(run.sizeLabel, c.firstNotices.empty() ? L"195KB" : L"0KB") << c.name;
    }
}

TEST_F(Download, ABrokenOrForeignBodyLeavesTheProgramAsItWas) {
    struct Case {
        const char* name;
        Reply reply;
    };
    const Case cases[] = {
        {"not found", {.status = 404, .body = m_new}},
        {"dropped", {.body = m_new, .behaviour = Behaviour::DropAfter, .afterBytes = 50000}},
        {"dropped without a length",
         {.body = m_new,
          .contentLength = ContentLength::Absent,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 150000}},
        {"short",
         {.body = m_new,
          .contentLength = ContentLength::Announced,
          .announcedLength = m_new.size() + 1000}},
        {"empty", {.body = ""}},
        {"empty without length", {.body = "", .contentLength = ContentLength::Absent}},
        {"html page",
         {.headers = {{"Content-Type", "text/html"}},
          .body = "<html><body>Please log in</body></html>"}},
        {"gzip", {.body = m_new, .behaviour = Behaviour::Gzip}},
        {"one byte", {.body = "M"}},
        {"no length, cut at 300 bytes",
         {.body = m_new,
          .contentLength = ContentLength::Absent,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 300}},
        {"chunked, cut before its last chunk, inside the section table",
         {.body = m_new, .behaviour = Behaviour::ChunkedDropAfter, .afterBytes = 400}},
        {"no length, cut inside the symbol table",
         {.body = m_symbols,
          .contentLength = ContentLength::Absent,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = kSymbolsAt + 1000}},
        {"no length, cut inside the string table's length",
         {.body = m_symbols,
          .contentLength = ContentLength::Absent,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = kStringsAt + 2}},
        {"chunked, cut inside the string table",
         {.body = m_symbols,
          .behaviour = Behaviour::ChunkedDropAfter,
          .afterBytes = kStringsAt + 5000}},
        {"no length, headers that cannot be read",
         {.body = ProgramBytes(200000, 5), .contentLength = ContentLength::Absent}},
        {"a length, and headers that say the program goes on",
         {.body = m_symbols.substr(0, kStringsAt + 5000)}},
    };
    for (const Case& c : cases) {
        Server().Script("/broken.exe", c.reply);
        const DownloadRun run = RunDownload(Url("/broken.exe"), m_target);
        EXPECT_EQ(run.result, -1) << c.name;
        ExpectUnchanged(run, c.name);
    }
    const DownloadRun run = RunDownload("http://127.0.0.1:1/new.exe", m_target);
    EXPECT_EQ(run.result, -1);
    ExpectUnchanged(run, "nothing listening");
}

TEST_F(Download, StopEndsItAtOnceEvenOnASilentServer) {
    struct Case {
        const char* name;
        Reply reply;
    };
    const Case cases[] = {
        {"slow",
         {.body = m_new, .behaviour = Behaviour::Slow, .pieceBytes = 4096, .intervalMs = 100}},
        {"silent",
         {.body = m_new,
          .behaviour = Behaviour::StallAfter,
          .afterBytes = 20000,
          .stallSeconds = 15}},
    };
    for (const Case& c : cases) {
        Server().Script("/slow.exe", c.reply);
        const DownloadRun run = RunDownload(Url("/slow.exe"), m_target,
                                            [](const std::vector<int>& notices, DWORD elapsed) {
                                                return !notices.empty() && elapsed > 500;
                                            });
        EXPECT_EQ(run.result, 0) << c.name;  // the user's choice: no failure
        ExpectUnchanged(run, c.name);
        EXPECT_LT(run.stopToReturnMs, 1000u) << c.name;
    }
}

TEST_F(Download, AHeldTargetIsWaitedForWithinABound) {
    for (DWORD holdMs : {2000u, 14000u}) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        // Held as a program that is still ending holds its file: no delete sharing.
        HANDLE held = CreateFileW(m_target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::thread holder([held, holdMs] {
            Sleep(holdMs);
            CloseHandle(held);
        });
        const DownloadRun run = RunDownload(Url("/new.exe"), m_target);
        holder.join();
        if (holdMs < 10000) {
            EXPECT_EQ(run.result, 0);
            ExpectInstalled(m_new, "held briefly");
        } else {
            EXPECT_EQ(run.result, -1);
            ExpectUnchanged(run, "held too long");
        }
    }
}

// Run with the file size limited (see the CMakeLists): a write that fails half-way, as on a
// full disk, leaves the installed program as it was.
TEST_F(Download, AFailedWriteLeavesTheProgramAsItWas) {
    if (GetEnvironmentVariableW(L"QV_WRITES_LIMITED", nullptr, 0) == 0) GTEST_SKIP();
    const std::string big = ProgramBytes(12 << 20, 3);
    Server().Script("/big.exe", {.body = big});
    const DownloadRun run = RunDownload(Url("/big.exe"), m_target);
    EXPECT_EQ(run.result, -1);
    ExpectUnchanged(run, "full disk");
}

