// The tests' HTTP server does what TestHttpServer scripts, as WinINet sees it.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MountedFolder.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

using namespace testsupport;

namespace {

struct Fetched {
    DWORD status = 0;
    std::string headers;  // the raw head, CRLF-separated
    std::string body;
    ULONGLONG elapsedMs = 0;
};

// A whole GET through WinINet, as the product makes it: 16 KB reads until a zero-byte read.
Fetched Fetch(const std::wstring& url) {
    Fetched fetched;
    const ULONGLONG start = GetTickCount64();
    HINTERNET root =
        InternetOpenW(L"qv-server-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlW(
        root, url.c_str(), L"X-Qv-Probe: 1\r\n", static_cast<DWORD>(-1),
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    if (request) {
        DWORD size = sizeof(fetched.status);
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &fetched.status,
                       &size, nullptr);
        char head[8192] = {};
        size = sizeof(head) - 1;
        if (HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, head, &size, nullptr))
            fetched.headers.assign(head, size);
        char buffer[16384];
        DWORD read = 0;
        while (InternetReadFile(request, buffer, sizeof(buffer), &read) && read > 0)
            fetched.body.append(buffer, read);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(root);
    fetched.elapsedMs = GetTickCount64() - start;
    return fetched;
}

// A header's value in a raw head; "<absent>" when it is not there.
std::string HeaderOf(const std::string& head, const std::string& name) {
    const std::string key = "\r\n" + name + ": ";
    const std::size_t at = head.find(key);
    if (at == std::string::npos) return "<absent>";
    const std::size_t from = at + key.size();
    return head.substr(from, head.find("\r\n", from) - from);
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char c : bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::uint32_t LittleEndianAt(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override { server.Reset(); }

    TestHttpServer server;
};

struct ReplyCase {
    const char* name;
    Reply reply;
    DWORD status;
    std::string body;  // as WinINet reads it
    std::vector<HttpHeader> expectedHeaders;
};

TEST_F(ServerTest, SendsEachScriptedReplyAsScripted) {
    const std::string big = Pattern(3 << 20);
    const std::string page = "<html><body>Sign in to continue</body></html>";
    const ReplyCase cases[] = {
        {"status, headers, body",
         {.status = 201, .headers = {{"X-Odd", "a\"b\\c"}}, .body = "hi"},
         201,
         "hi",
         {{"X-Odd", "a\"b\\c"}, {"Content-Length", "2"}}},
        {"error status", {.status = 500, .body = "boom"}, 500, "boom", {}},
        {"empty 200", {.body = ""}, 200, "", {{"Content-Length", "0"}}},
        {"HTML page",
         {.headers = {{"Content-Type", "text/html"}}, .body = page},
         200,
         page,
         {{"Content-Type", "text/html"}}},
        {"3 MB body", {.body = big}, 200, big, {{"Content-Length", std::to_string(big.size())}}},
        {"no Content-Length",
         {.body = "abcdef", .contentLength = ContentLength::Absent},
         200,
         "abcdef",
         {{"Content-Length", "<absent>"}}},
        {"longer Content-Length",
         {.body = "0123456789", .contentLength = ContentLength::Announced, .announcedLength = 100},
         200,
         "0123456789",
         {{"Content-Length", "100"}}},
        {"chunked",
         {.body = big.substr(0, 10000), .behaviour = Behaviour::Chunked, .pieceBytes = 999},
         200,
         big.substr(0, 10000),
         {{"Transfer-Encoding", "chunked"}, {"Content-Length", "<absent>"}}},
        {"dropped mid-body",
         {.body = big.substr(0, 10000), .behaviour = Behaviour::DropAfter, .afterBytes = 3000},
         200,
         big.substr(0, 3000),
         {{"Content-Length", "10000"}}},
        {"chunked, cut before its last chunk",
         {.body = big.substr(0, 10000),
          .behaviour = Behaviour::ChunkedDropAfter,
          .pieceBytes = 999,
          .afterBytes = 3000},
         200,
         big.substr(0, 3000),
         {{"Transfer-Encoding", "chunked"}, {"Content-Length", "<absent>"}}},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        server.Script("/server-test/reply?case=1", c.reply);
        const Fetched fetched = Fetch(server.UrlW("/server-test/reply?case=1"));
        EXPECT_EQ(fetched.status, c.status);
        EXPECT_TRUE(fetched.body == c.body)
            << fetched.body.size() << " bytes, not " << c.body.size();
        for (const HttpHeader& header : c.expectedHeaders)
            EXPECT_EQ(HeaderOf(fetched.headers, header.name), header.value) << header.name;
    }
}

TEST_F(ServerTest, UnscriptedTargetsAndResetScriptsGet404) {
    server.Script("/server-test/a?x=1", {.body = "a"});
    EXPECT_EQ(Fetch(server.UrlW("/server-test/a?x=1")).status, 200u);
    EXPECT_EQ(Fetch(server.UrlW("/server-test/a?x=2")).status, 404u);
    EXPECT_EQ(Fetch(server.UrlW("/server-test/a")).status, 404u);
    server.Reset();
    EXPECT_EQ(Fetch(server.UrlW("/server-test/a?x=1")).status, 404u);
    EXPECT_THROW(server.Script("no-slash", {}), TestHttpServerError);
}

TEST_F(ServerTest, GzipBodyIsTheRealEncodingOfTheScriptedBody) {
    const std::string body = Pattern(50000);
    server.Script("/server-test/gzip", {.body = body, .behaviour = Behaviour::Gzip});
    const Fetched fetched = Fetch(server.UrlW("/server-test/gzip"));
    EXPECT_EQ(HeaderOf(fetched.headers, "Content-Encoding"), "gzip");
    EXPECT_EQ(HeaderOf(fetched.headers, "Content-Length"), std::to_string(fetched.body.size()));
    ASSERT_GT(fetched.body.size(), 18u);
    EXPECT_EQ(fetched.body.substr(0, 3), "\x1f\x8b\x08");  // gzip, deflate
    EXPECT_NE(fetched.body.size(), body.size());
    // The trailer holds the CRC-32 and the length of what was encoded.
    EXPECT_EQ(LittleEndianAt(fetched.body, fetched.body.size() - 8), Crc32(body));
    EXPECT_EQ(LittleEndianAt(fetched.body, fetched.body.size() - 4), body.size());
}

TEST_F(ServerTest, RedirectsAreFollowedToTheOtherTarget) {
    server.Script("/server-test/final?v=2", {.body = "final"});
    for (const int status : {302, 307}) {
        SCOPED_TRACE(status);
        server.ClearRequests();
        server.Script("/server-test/moved",
                      {.status = status, .location = "/server-test/final?v=2"});
        const Fetched fetched = Fetch(server.UrlW("/server-test/moved"));
        EXPECT_EQ(fetched.status, 200u);
        EXPECT_EQ(fetched.body, "final");
        const std::vector<ReceivedRequest> requests = server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0].target, "/server-test/moved");
        EXPECT_EQ(requests[1].target, "/server-test/final?v=2");
    }
}

TEST_F(ServerTest, SlowAndStalledBodiesTakeAtLeastTheirPauses) {
    const std::string body = Pattern(800);
    server.Script(
        "/server-test/slow",
        {.body = body, .behaviour = Behaviour::Slow, .pieceBytes = 100, .intervalMs = 150});
    const Fetched slow = Fetch(server.UrlW("/server-test/slow"));
    EXPECT_TRUE(slow.body == body);
    EXPECT_GE(slow.elapsedMs, 7u * 150u * 9u / 10u);  // 7 pauses between 8 pieces

    server.Script(
        "/server-test/stall",
        {.body = body, .behaviour = Behaviour::StallAfter, .afterBytes = 100, .stallSeconds = 1});
    const Fetched stalled = Fetch(server.UrlW("/server-test/stall"));
    EXPECT_TRUE(stalled.body == body.substr(0, 100));
    EXPECT_EQ(HeaderOf(stalled.headers, "Content-Length"), "800");
    EXPECT_GE(stalled.elapsedMs, 900u);
}

TEST_F(ServerTest, RecordsEachRequestUntilCleared) {
    server.Script("/server-test/record?a=1&b=2", {.body = "r"});
    Fetch(server.UrlW("/server-test/record?a=1&b=2"));
    Fetch(server.UrlW("/server-test/unscripted"));
    const std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/server-test/record?a=1&b=2");
    EXPECT_EQ(requests[0].Header("user-agent"), "qv-server-test");
    EXPECT_EQ(requests[0].Header("X-Qv-Probe"), "1");
    EXPECT_FALSE(requests[0].HasHeader("X-Not-Sent"));
    EXPECT_EQ(requests[1].target, "/server-test/unscripted");
    server.ClearRequests();
    EXPECT_TRUE(server.Requests().empty());
}

// The server runs as root: it mounts nowhere but a fresh /tmp/qv-ro-<name>.
TEST_F(ServerTest, MountsOnlyFoldersOfItsOwnUnderTmp) {
    for (const char* path : {"/etc", "/tmp/other", "/tmp/qv-ro-", "/tmp/qv-ro-a/../../etc",
                             "/tmp//qv-ro-a", "tmp/qv-ro-a", "/tmp/qv-ro-a b"}) {
        SCOPED_TRACE(path);
        EXPECT_THROW(server.Mount(path), TestHttpServerError);
    }
    EXPECT_THROW(server.Remount("/tmp/qv-ro-never-mounted", true), TestHttpServerError);
    EXPECT_THROW(server.Unmount("/tmp/qv-ro-never-mounted"), TestHttpServerError);
}

// A read-only mount stops this process although Wine runs it as root; writable again, it
// takes files; gone with its object.
TEST_F(ServerTest, AMountedFolderIsUnwritableWhileReadOnly) {
    std::wstring path;
    {
        MountedFolder folder(server);
        path = folder.Path();
        ASSERT_TRUE(WriteFileBytes(folder.File(L"before.txt"), "kept"));
        folder.MakeReadOnly();
        const HANDLE created = CreateFileW(folder.File(L"new.txt").c_str(), GENERIC_WRITE, 0,
                                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (created != INVALID_HANDLE_VALUE) CloseHandle(created);
        EXPECT_EQ(created, INVALID_HANDLE_VALUE);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        // Wine reports the delete as done (the Unix unlink fails when the handle closes, and
        // nobody hears of it): what counts is that the file stays.
        DeleteFileW(folder.File(L"before.txt").c_str());
        std::string kept;
        EXPECT_TRUE(ReadFileBytes(folder.File(L"before.txt"), kept) && kept == "kept");
        folder.MakeWritable();
        EXPECT_TRUE(WriteFileBytes(folder.File(L"new.txt"), "new"));
    }
    EXPECT_FALSE(FileExists(path));
}

}  // namespace
