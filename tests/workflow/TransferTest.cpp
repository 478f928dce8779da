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
#include "Sha256.h"
#include "StagedFile.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

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

// /hop1 redirects to /hop2, and so on; /hop5 to /new.exe: five redirects from /hop1.
void ScriptRedirectChain() {
    for (int hop = 1; hop <= 5; ++hop)
        Server().Script("/hop" + std::to_string(hop),
                        {.status = hop % 2 ? 302 : 301,
                         .location = hop == 5 ? "/new.exe" : "/hop" + std::to_string(hop + 1)});
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
        ExpectNoPart(name);
    }
    void ExpectNoPart(const char* name) {
        EXPECT_FALSE(FileExists(StagedFile::TemporaryPath(m_target))) << name;
        EXPECT_FALSE(FileExists(StagedFile::RecordPath(m_target))) << name;
    }
    void ExpectPartKept(const char* name) {
        EXPECT_TRUE(FileExists(StagedFile::TemporaryPath(m_target))) << name;
        EXPECT_TRUE(FileExists(StagedFile::RecordPath(m_target))) << name;
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
        {"308 to a whole address",
         "/moved-for-good.exe",
         {.status = 308, .location = Server().BaseUrl() + "new.exe"},
         {}},
        {"five redirects", "/hop1", {.status = 302, .location = "/hop2"}, {}},
    };
    ScriptRedirectChain();
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
        // Redirects are followed by hand: a few, and only to the web.
        {"six redirects", {.status = 302, .location = "/hop1"}},
        {"redirect to ftp", {.status = 302, .location = "ftp://127.0.0.1/new.exe"}},
        {"redirect to a file", {.status = 307, .location = "file:///C:/windows/notepad.exe"}},
    };
    ScriptRedirectChain();
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

// The silence limit is shortened here to what the cases' pauses can show in seconds.
TEST_F(Download, ASlowLinkInstallsAndOnlyASilentOneFails) {
    const std::string program = ProgramWithHeaders(24000, 5);
    struct Case {
        const char* name;
        Reply reply;
        int result;
    };
    const Case cases[] = {
        // Bytes keep coming, each piece well within the limit, though no read could fill a
        // buffer before it runs out: each must be taken as it comes.
        {"drip after a burst",
         {.body = program,
          .behaviour = Behaviour::Slow,
          .pieceBytes = 200,
          .intervalMs = 150,
          .burstBytes = 20000},
         0},
        {"silent after a burst",
         {.body = program,
          .behaviour = Behaviour::StallAfter,
          .afterBytes = 20000,
          .stallSeconds = 10},
         -1},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        Server().Script("/slow.exe", c.reply);
        const DownloadRun run =
            RunDownload(Url("/slow.exe"), m_target, {}, {.timings = {.silenceLimitMs = 1200}});
        EXPECT_EQ(run.result, c.result) << c.name;
        if (c.result == 0) {
            ExpectInstalled(program, c.name);
            // The percentage follows the pieces as they come (the 3 s of pieces give about ten
            // notices at four a second; a read that waited for them all would give two).
            EXPECT_GE(run.notices.size(), 6u) << c.name;
        } else {
            ExpectUnchanged(run, c.name);
        }
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
    // Slow enough for the part to be recorded before the disk fills: it goes all the same.
    Server().Script("/big.exe", {.headers = {{"ETag", "\"big\""}},
                                 .body = big,
                                 .behaviour = Behaviour::Slow,
                                 .pieceBytes = 512 << 10,
                                 .intervalMs = 150});
    const DownloadRun run = RunDownload(Url("/big.exe"), m_target);
    EXPECT_EQ(run.result, -1);
    ExpectUnchanged(run, "full disk");
}

namespace {

const HttpHeader kWeakEtag{"ETag", "W/\"v1\""};
const HttpHeader kLastModified{"Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT"};
// Later than the reply's Date: the file may still change within that second.
const HttpHeader kLastModifiedLater{"Last-Modified", "Mon, 01 Jan 2046 00:00:00 GMT"};

}  // namespace

// After a fast stretch the transfer reads ahead, and such a read sees nothing of the bytes
// that come until it is full: when the link then slows to a trickle, the read must not wait
// for the silence limit while bytes arrive.
TEST_F(Download, ALinkThatSlowsAfterAFastStretchIsFollowed) {
    const std::string program = ProgramWithHeaders(12 << 20, 9);
    struct Case {
        const char* name;
        std::vector<HttpHeader> headers;
        bool ranges;
        size_t requests;  // to /slowing.exe
    };
    const Case cases[] = {
        // The read ahead is cut, and the rest asked for at once.
        {"resumable", {kEtag}, true, 2},
        // Nothing could be resumed: it reads only what has come, and follows the trickle.
        {"no validator", {}, false, 1},
        // The rest is answered with the whole body again: no more reading ahead then, or
        // every try would start over and be cut at the same place.
        {"ranges not served", {kEtag}, false, 2},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        Server().ClearRequests();
        Server().Script("/slowing.exe", {.headers = c.headers,
                                         .body = program,
                                         .behaviour = Behaviour::Slow,
                                         .pieceBytes = 150,
                                         .intervalMs = 100,
                                         .burstBytes = program.size() - 3000,
                                         .ranges = c.ranges});
        const DownloadRun run = RunDownload(
            Url("/slowing.exe"), m_target,
            [](const std::vector<int>&, DWORD elapsed) { return elapsed > 30000; }, kQuickTries);
        EXPECT_EQ(run.result, 0) << c.name;
        ExpectInstalled(program, c.name);
        EXPECT_EQ(RequestsFor("/slowing.exe").size(), c.requests) << c.name;
    }
}

TEST_F(Download, ADroppedOrStalledBodyIsResumedWhereItStood) {
    struct Case {
        const char* name;
        Reply reply;
        int result;
        int requests;             // to /part.exe
        const char* secondRange;  // the second request's Range ("" when none was sent)
        std::string secondIfRange;
        int resumed;
        const wchar_t* percentShown = nullptr;  // the label at the end, when it failed
    };
    // The first reply is cut at 80,000 bytes; the range request is answered 206 as `broken`.
    auto Broken206 = [this](RangeReply broken, const char* etag = nullptr) {
        return Reply{.headers = {kEtag},
                     .body = m_new,
                     .behaviour = Behaviour::DropAfter,
                     .afterBytes = 80000,
                     .faultyReplies = 1,
                     .ranges = true,
                     .rangeReply = broken,
                     .rangeEtag = etag};
    };
    // The first reply is cut at 80,000 bytes; the next ones have these statuses.
    auto Busy = [this](std::vector<int> statuses) {
        return Reply{.headers = {kEtag, {"Retry-After", "1"}},
                     .body = m_new,
                     .behaviour = Behaviour::DropAfter,
                     .afterBytes = 80000,
                     .faultyReplies = 1,
                     .ranges = true,
                     .statuses = std::move(statuses)};
    };
    const Case cases[] = {
        {"strong ETag",
         {.headers = {kEtag},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true},
         0,
         2,
         "bytes=80000-",
         kEtag.value,
         1},
        {"Last-Modified",
         {.headers = {kLastModified},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true},
         0,
         2,
         "bytes=80000-",
         kLastModified.value,
         1},
        // On a fast link the next read is under way while the last one is written: the bytes
        // received are all on disk, in order, and the rest is asked for from there.
        {"dropped in a fast stretch",
         {.headers = {kEtag},
          .body = ProgramWithHeaders(12 << 20, 5),
          .behaviour = Behaviour::DropAfter,
          .afterBytes = (9 << 20) + 12345,
          .faultyReplies = 1,
          .ranges = true},
         0,
         2,
         "bytes=9449529-",
         kEtag.value,
         1},
        {"stalled",
         {.headers = {kEtag},
          .body = m_new,
          .behaviour = Behaviour::StallAfter,
          .afterBytes = 80000,
          .stallSeconds = 10,
          .faultyReplies = 1,
          .ranges = true},
         0,
         2,
         "bytes=80000-",
         kEtag.value,
         1},
        // A 200 to the range request: the file has changed, and comes whole.
        {"changed between tries",
         {.body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true,
          .changingEtag = true},
         0,
         2,
         "bytes=80000-",
         "\"try-1\"",
         0},
        // Nothing names the file: a range of it could belong to another.
        {"weak ETag",
         {.headers = {kWeakEtag},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true},
         -1,
         1,
         "",
         "",
         0},
        {"Last-Modified too recent",
         {.headers = {kLastModifiedLater},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true},
         -1,
         1,
         "",
         "",
         0},
        {"no validator",
         {.body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true},
         -1,
         1,
         "",
         "",
         0},
        {"no length",
         {.headers = {kEtag},
          .body = m_new,
          .contentLength = ContentLength::Absent,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1,
          .ranges = true},
         -1,
         1,
         "",
         "",
         0},
        // Every range brings nothing: five tries in a row without a byte end it.
        {"nothing more comes",
         {.headers = {kEtag},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .ranges = true},
         -1,
         6,
         "bytes=80000-",
         kEtag.value,
         1},
        // A server that ignores ranges sends the whole file again each time.
        {"ranges ignored",
         {.headers = {kEtag},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000,
          .faultyReplies = 1},
         0,
         2,
         "bytes=80000-",
         kEtag.value,
         0},
        // ... and cuts every connection at the same place: starting again from nothing brings
        // nothing new, and the start-overs are bounded.
        {"ranges ignored, every connection cut",
         {.headers = {kEtag},
          .body = m_new,
          .behaviour = Behaviour::DropAfter,
          .afterBytes = 80000},
         -1,
         5,
         "bytes=80000-",
         kEtag.value,
         0,
         L"40%"},
        // A 206 that is not the rest of this body is never spliced on: the body starts again.
        {"a 206 short of its own length", Broken206(RangeReply::Short), 0, 3, "bytes=80000-",
         kEtag.value, 0},
        {"a 206 with bytes past the end", Broken206(RangeReply::Long), 0, 3, "bytes=80000-",
         kEtag.value, 0},
        {"a 206 in gzip", Broken206(RangeReply::Gzip), 0, 3, "bytes=80000-", kEtag.value, 0},
        {"another file's rest, under another ETag", Broken206(RangeReply::OtherFile, "\"b\""), 0, 3,
         "bytes=80000-", kEtag.value, 0},
        {"another file's rest, without an ETag", Broken206(RangeReply::OtherFile, ""), 0, 3,
         "bytes=80000-", kEtag.value, 0},
        {"another file's rest, under a weak ETag", Broken206(RangeReply::OtherFile, "W/\"v1\""), 0,
         3, "bytes=80000-", kEtag.value, 0},
        // Chunks that end before the body's end are a cut like any other: never installed.
        {"a 206 in chunks that end short", Broken206(RangeReply::ChunkedShort), -1, 7,
         "bytes=80000-", kEtag.value, 1, L"99%"},
        // A server that says "not now" is asked again, and the part is kept meanwhile.
        {"a 503, then the rest", Busy({200, 503}), 0, 3, "bytes=80000-", kEtag.value, 1},
        {"a 502, then the rest", Busy({200, 502}), 0, 3, "bytes=80000-", kEtag.value, 1},
        {"no reply, then the rest", Busy({200, 0}), 0, 3, "bytes=80000-", kEtag.value, 1},
        {"busy at every try", Busy({200, 503, 503, 503, 503, 503}), -1, 6, "bytes=80000-",
         kEtag.value, 0, L"40%"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        StagedFile::RemoveLeftover(m_target);
        Server().Script("/part.exe", c.reply);
        Server().ClearRequests();
        const DownloadRun run = RunDownload(Url("/part.exe"), m_target, {}, kQuickTries);
        EXPECT_EQ(run.result, c.result) << c.name;
        EXPECT_EQ(run.resumed, c.resumed) << c.name;
        if (c.result == 0) {
            ExpectInstalled(c.reply.body, c.name);
        } else {
            std::string now;
            ASSERT_TRUE(ReadFileBytes(m_target, now));
            EXPECT_TRUE(now == m_old) << c.name;
            // Given up after part of it came: kept for the next run. A part that could never
            // be resumed is not.
            const bool kept = c.requests > 1;
            EXPECT_EQ(FileExists(StagedFile::TemporaryPath(m_target)), kept) << c.name;
            EXPECT_EQ(FileExists(StagedFile::RecordPath(m_target)), kept) << c.name;
            if (c.percentShown) {
                EXPECT_EQ(run.percentLabel, c.percentShown) << c.name;
            }
        }
        const std::vector<ReceivedRequest> requests = RequestsFor("/part.exe");
        ASSERT_EQ(requests.size(), static_cast<size_t>(c.requests)) << c.name;
        EXPECT_FALSE(requests[0].HasHeader("Range")) << c.name;
        if (requests.size() > 1) {
            EXPECT_EQ(requests[1].Header("Range"), c.secondRange) << c.name;
            EXPECT_EQ(requests[1].Header("If-Range"), c.secondIfRange) << c.name;
        }
    }
}

TEST_F(Download, EveryRedirectIsAskedForTheRestAgain) {
    Server().Script("/part.exe", {.headers = {kEtag},
                                  .body = m_new,
                                  .behaviour = Behaviour::DropAfter,
                                  .afterBytes = 80000,
                                  .faultyReplies = 1,
                                  .ranges = true});
    Server().Script("/to-part.exe", {.status = 302, .location = "/part.exe"});
    Server().ClearRequests();
    const DownloadRun run = RunDownload(Url("/to-part.exe"), m_target, {}, kQuickTries);
    EXPECT_EQ(run.result, 0);
    ExpectInstalled(m_new, "redirected");
    const std::vector<ReceivedRequest> requests = Server().Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (size_t i = 2; i < 4; ++i) {
        EXPECT_EQ(requests[i].Header("Range"), "bytes=80000-") << requests[i].target;
        EXPECT_EQ(requests[i].Header("If-Range"), kEtag.value) << requests[i].target;
    }
}

// One run leaves a part (a stop, a kill, a failed run); the next run of the same offer goes on
// from it, any other starts again.
TEST_F(Download, AKeptPartIsResumedByTheNextRunOfTheSameOffer) {
    const ExpectedFile signedFile = SignedFileOf(m_new);
    ExpectedFile otherFile = signedFile;
    otherFile.sha256[0] ^= 1;
    DownloadSettings signedRelease, otherSignedRelease, otherVersion = kQuickTries;
    signedRelease.expected = signedFile;
    otherSignedRelease.expected = otherFile;
    otherVersion.version = "1.0.0.3";
    struct Case {
        const char* name;
        DownloadSettings first, next;
        std::vector<HttpHeader> nextHeaders;
        std::string tail;  // written after the part, as a crash could leave it unflushed
        bool asksForTheRest;
        bool resumes;
    };
    const Case cases[] = {
        {"same offer", kQuickTries, kQuickTries, {kEtag}, "", true, true},
        {"tail never recorded",
         kQuickTries,
         kQuickTries,
         {kEtag},
         std::string(5000, '\0'),
         true,
         true},
        {"signed", signedRelease, signedRelease, {kEtag}, "", true, true},
        {"another version", kQuickTries, otherVersion, {kEtag}, "", false, false},
        {"another signed file", otherSignedRelease, signedRelease, {kEtag}, "", false, false},
        {"the file has changed", kQuickTries, kQuickTries, {{"ETag", "\"v2\""}}, "", true, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        StagedFile::RemoveLeftover(m_target);
        Server().Script("/kept.exe", {.headers = {kEtag},
                                      .body = m_new,
                                      .behaviour = Behaviour::Slow,
                                      .pieceBytes = 4096,
                                      .intervalMs = 50});
        const DownloadRun stopped = RunDownload(
            Url("/kept.exe"), m_target,
            [](const std::vector<int>& notices, DWORD) {
                return !notices.empty() && notices.back() >= 20;
            },
            c.first);
        EXPECT_EQ(stopped.result, 0) << c.name;
        ExpectPartKept(c.name);
        std::string part;
        ASSERT_TRUE(ReadFileBytes(StagedFile::TemporaryPath(m_target), part));
        ASSERT_GT(part.size(), 0u);
        EXPECT_TRUE(m_new.compare(0, part.size(), part) == 0) << c.name;
        if (!c.tail.empty()) {
            ASSERT_TRUE(WriteFileBytes(StagedFile::TemporaryPath(m_target), part + c.tail));
        }

        Server().Script("/kept.exe", {.headers = c.nextHeaders, .body = m_new, .ranges = true});
        Server().ClearRequests();
        const DownloadRun next = RunDownload(Url("/kept.exe"), m_target, {}, c.next);
        EXPECT_EQ(next.result, 0) << c.name;
        ExpectInstalled(m_new, c.name);
        EXPECT_EQ(next.resumed, c.resumes ? 1 : 0) << c.name;
        const std::vector<ReceivedRequest> requests = RequestsFor("/kept.exe");
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_EQ(requests[0].HasHeader("Range"), c.asksForTheRest) << c.name;
        if (c.asksForTheRest) {
            EXPECT_EQ(requests[0].Header("Range"), "bytes=" + std::to_string(part.size()) + "-")
                << c.name;
        }
    }
}

// A run that ended while the whole file waited to replace the program (a close or a kill while
// the target was held) leaves a complete part: the next run checks it and installs it without
// asking the server for a range past its end.
TEST_F(Download, ACompletePartIsInstalledWithoutARequest) {
    const ExpectedFile signedFile = SignedFileOf(m_new);
    struct Case {
        const char* name;
        std::optional<ExpectedFile> expected;
        std::string part;
        int result;
        std::string installed;
    };
    const Case cases[] = {
        {"unsigned", std::nullopt, m_new, 0, m_new},
        {"signed", signedFile, m_new, 0, m_new},
        {"signed, a byte changed on disk", signedFile,
         m_new.substr(0, 1000) + "X" + m_new.substr(1001), -1, m_old},
        {"not a program", std::nullopt, "ZM" + m_new.substr(2), 0, m_new},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteFileBytes(m_target, m_old));
        ASSERT_TRUE(WriteFileBytes(StagedFile::TemporaryPath(m_target), c.part));
        DownloadRecord record{.address = Url("/whole.exe"),
                              .version = "1.0.0.2",
                              .expected = c.expected,
                              .validator = L"\"v1\"",
                              .total = c.part.size(),
                              .written = c.part.size()};
        ASSERT_TRUE(SaveDownloadRecord(StagedFile::RecordPath(m_target), record));
        // A strict server: a range past the end is refused.
        Server().Script("/whole.exe", {.headers = {kEtag}, .body = m_new, .ranges = true});
        Server().ClearRequests();
        DownloadSettings settings = kQuickTries;
        settings.expected = c.expected;
        const DownloadRun run = RunDownload(Url("/whole.exe"), m_target, {}, settings);
        EXPECT_EQ(run.result, c.result) << c.name;
        ExpectInstalled(c.installed, c.name);
        for (const ReceivedRequest& request : RequestsFor("/whole.exe"))
            EXPECT_FALSE(request.HasHeader("Range")) << c.name;
    }
}

// The download asks as the old client did, and always of the server itself, never a cache.
TEST_F(Download, AsksWithTheOldClientsHeadersAndNeverFromACache) {
    Server().ClearRequests();
    for (int run = 0; run < 2; ++run) EXPECT_EQ(RunDownload(Url("/new.exe"), m_target).result, 0);
    const std::vector<ReceivedRequest> requests = RequestsFor("/new.exe");
    ASSERT_EQ(requests.size(), 2u);  // the second download of the address reached the server
    for (const ReceivedRequest& request : requests) {
        EXPECT_EQ(request.Header("Accept"), "*/*");
        EXPECT_EQ(request.Header("Accept-Language"), "zh-cn");
        // The header, not WinINet's "Agent<tick>" session name, goes on the wire.
        EXPECT_EQ(request.Header("User-Agent"),
                  "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)");
        EXPECT_FALSE(request.HasHeader("Accept-Encoding"));
        EXPECT_EQ(request.Header("Pragma"), "no-cache");
    }
}

// A question to the server names the program as its agent, and each is asked again.
TEST(FetchText, NamesTheProgramAndAsksTheServerEachTime) {
    Server().Script("/asked", {.body = "true"});
    Server().ClearRequests();
    GbkString reply;
    for (int fetch = 0; fetch < 2; ++fetch) {
        FetchText(Url("/asked"), reply);
        EXPECT_EQ(reply.Bytes(), "true");
    }
    const std::vector<ReceivedRequest> requests = RequestsFor("/asked");
    ASSERT_EQ(requests.size(), 2u);
    for (const ReceivedRequest& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.Header("Accept"), "*/*");  // WinINet's own
        EXPECT_EQ(request.Header("User-Agent"), "workflow_tests");
        EXPECT_FALSE(request.HasHeader("Accept-Encoding"));
        EXPECT_FALSE(request.HasHeader("Pragma"));
    }
}
