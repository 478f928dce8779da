// update-server on 127.0.0.1, as installed updaters and other clients see it: each reply, the
// program with ranges and validators, bad and slow requests, a release folder changed while
// it serves, and a clean stop.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ctime>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "ServerProcess.h"

using namespace testing_vendor;

namespace {

const std::string kProgramPath = "/download/2.0.1.5/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";

class Served : public testing::Test {
protected:
    void SetUp() override {
        WriteRelease(m_release, Fixture("v2_0_1_5.exe"));
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            "--listen", "127.0.0.1:0", "--request-limit", "1", "--poll", "0.1", "--keep-previous",
            "2", "--store", m_store.string(), m_release.string()});
        ASSERT_TRUE(m_server->WaitUntilListening()) << m_server->Errors();
        m_program = ReadBytes(Fixture("v2_0_1_5.exe"));
    }
    Response Ask(const std::string& target, const std::string& headers = "",
                 const char* method = "GET") {
        return Get(m_server->Port(), target, headers, method);
    }
    // Polls (bounded) until the update record contains `text`.
    bool WaitForRecord(const std::string& text) {
        for (int i = 0; i < 100; ++i) {
            if (Ask("/freeUpdate/update.asp?action=Auto").body.find(text) != std::string::npos)
                return true;
            usleep(50000);
        }
        return false;
    }

    TempFolder m_place;
    fs::path m_release = m_place.Path() / "release";
    fs::path m_store = m_place.Path() / "store";
    std::unique_ptr<ServerProcess> m_server;
    std::string m_program;
};

bool HoldsCopies(const fs::path& store) {
    std::error_code none;
    for (const auto& entry : fs::recursive_directory_iterator(store / "copies", none))
        if (entry.is_regular_file()) return true;
    return false;
}

bool IsAscii(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) > 0x7E) return false;
    return true;
}

}  // namespace

TEST_F(Served, EachReplyIsPlainAndNotKept) {
    const std::string record = "#2.0.1.5#" + m_server->Base() + kProgramPath.substr(1) + "#";
    const struct {
        std::string target;
        const char* method;
        std::string body;
        const char* type;
    } cases[] = {
        {"/freeUpdate/isweb.asp", "GET", "true", "text/plain; charset=us-ascii"},
        {"/freeUpdate/update.asp?action=Auto", "GET", record, "text/plain; charset=us-ascii"},
        {"/freeUpdate/update.asp?action=Hand", "GET",
         "http://www.example.com/%E4%B8%8B%E8%BD%BD.html", "text/plain; charset=us-ascii"},
        {"/freeUpdate/update.asp?action=Auto", "HEAD", "", "text/plain; charset=us-ascii"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target + " " + c.method);
        const Response r = Ask(c.target, "", c.method);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, c.body);
        EXPECT_TRUE(IsAscii(r.body));
        EXPECT_EQ(r.Header("Content-Type"), c.type);
        EXPECT_EQ(r.Header("Content-Length"),
                  std::to_string(c.method == std::string("HEAD") ? record.size() : c.body.size()));
        EXPECT_EQ(r.Header("Cache-Control"), "no-cache, no-store, must-revalidate");
    }
    const Response notes = Ask("/freeUpdate/log.asp");
    EXPECT_EQ(notes.Header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(notes.body.find("<p>修正</p>"), std::string::npos);
    EXPECT_NE(notes.body.find("Qorvel 2.0.1.5"), std::string::npos);
}

TEST_F(Served, TheProgramComesWholeOrInRangesAndNeverEncoded) {
    const std::string size = std::to_string(m_program.size());
    const Response head = Ask(kProgramPath, "", "HEAD");
    const std::string etag = head.Header("ETag"), modified = head.Header("Last-Modified");
    ASSERT_FALSE(etag.empty());
    std::tm parts{};
    ASSERT_NE(strptime(modified.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts), nullptr) << modified;
    char asctime[64];
    std::strftime(asctime, sizeof asctime, "%a %b %e %H:%M:%S %Y", &parts);
    const struct {
        std::string headers;
        const char* method;
        int status;
        std::string body;
        std::string contentRange;
    } cases[] = {
        {"Accept-Encoding: gzip, deflate\r\n", "GET", 200, m_program, ""},
        {"", "HEAD", 200, "", ""},
        {"Range: bytes=0-9\r\n", "GET", 206, m_program.substr(0, 10), "bytes 0-9/" + size},
        {"Range: bytes=100-\r\n", "GET", 206, m_program.substr(100),
         "bytes 100-" + std::to_string(m_program.size() - 1) + "/" + size},
        {"Range: bytes=-16\r\n", "GET", 206, m_program.substr(m_program.size() - 16),
         "bytes " + std::to_string(m_program.size() - 16) + "-" +
             std::to_string(m_program.size() - 1) + "/" + size},
        {"Range: bytes=" + size + "-\r\n", "GET", 416, "", "bytes */" + size},
        {"Range: bytes=5-2\r\n", "GET", 200, m_program, ""},
        {"Range: bytes=0-1,4-5\r\n", "GET", 200, m_program, ""},
        {"Range: bytes=0-9\r\nIf-Range: " + etag + "\r\n", "GET", 206, m_program.substr(0, 10),
         "bytes 0-9/" + size},
        {"Range: bytes=0-9\r\nIf-Range: \"other\"\r\n", "GET", 200, m_program, ""},
        {"If-None-Match: " + etag + "\r\n", "GET", 304, "", ""},
        {"If-None-Match: \"other\"\r\n", "GET", 200, m_program, ""},
        {"Range: BYTES=0-9\r\n", "GET", 206, m_program.substr(0, 10), "bytes 0-9/" + size},
        {"If-Match: \"other\", " + etag + "\r\n", "GET", 200, m_program, ""},
        {"If-Match: \"other\"\r\n", "GET", 412, "", ""},
        {"If-Match: W/" + etag + "\r\n", "GET", 412, "", ""},
        {"If-Unmodified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "GET", 412, "", ""},
        {"If-Unmodified-Since: Sunday, 06-Nov-94 08:49:37 GMT\r\n", "GET", 412, "", ""},
        {"If-Unmodified-Since: " + modified + "\r\n", "GET", 200, m_program, ""},
        {"If-Modified-Since: " + modified + "\r\n", "GET", 304, "", ""},
        {"If-Modified-Since: " + std::string(asctime) + "\r\n", "GET", 304, "", ""},
        {"If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n", "GET", 200, m_program, ""},
        {"If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "GET", 200, m_program, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.headers + c.method);
        Response r = Ask(kProgramPath, c.headers, c.method);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.body == c.body) << r.body.size() << " bytes";
        EXPECT_EQ(r.Header("Content-Range"), c.contentRange);
        EXPECT_EQ(r.headers.count("Content-Encoding"), 0u);
        if (c.status == 200 || c.status == 206) {
            EXPECT_EQ(r.Header("Content-Length"),
                      std::to_string(c.status == 200 ? m_program.size() : c.body.size()));
            EXPECT_EQ(r.Header("ETag"), etag);
            EXPECT_FALSE(r.Header("Last-Modified").empty());
        }
    }
}

TEST_F(Served, BadOrSlowRequestsAreRefusedOrCutOff) {
    const std::string get = " HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
    // The check's head up to its header lines, for the rows that add their own.
    const std::string checkHead = "GET /freeUpdate/isweb.asp" + get.substr(0, 20);
    const struct {
        const char* name;
        std::string request;
        int status;  // 0: closed without a reply
    } cases[] = {
        {"unknown path", "GET /freeUpdate/other.asp" + get, 404},
        {"no action", "GET /freeUpdate/update.asp" + get, 400},
        {"unknown action", "GET /freeUpdate/update.asp?action=auto" + get, 400},
        {"traversal", "GET /download/2.0.1.5/../../../etc/passwd" + get, 400},
        {"encoded traversal", "GET /download/2.0.1.5/%2e%2e%2F%2e%2e%2Fetc%2Fpasswd" + get, 400},
        {"encoded dots only", "GET /download/%2E%2E/release.ini" + get, 400},
        {"backslash", "GET /download/2.0.1.5/..%5C..%5Crelease.ini" + get, 400},
        {"NUL", "GET /freeUpdate/isweb.asp%00.txt" + get, 400},
        {"another release file", "GET /download/2.0.1.5/release.ini" + get, 404},
        {"unknown version", "GET /download/9.9.9.9/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe" + get,
         404},
        {"garbage", "HELLO\r\n\r\n", 400},
        {"other method", "DELETE /freeUpdate/isweb.asp" + get, 405},
        {"POST", "POST /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\n\r\nab",
         405},
        {"blank before colon", "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost : a\r\n\r\n", 400},
        {"two lengths",
         "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nContent-Length: "
         "2\r\n\r\nab",
         400},
        {"two hosts", "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
        {"HTTP/1.1 without Host", "GET /freeUpdate/isweb.asp HTTP/1.1\r\nConnection: close\r\n\r\n",
         400},
        {"folded header", "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nX-A: b\r\n c\r\n\r\n",
         400},
        {"HTTP/2.0", "GET /freeUpdate/isweb.asp HTTP/2.0\r\nHost: a\r\n\r\n", 505},
        {"HTTP/3.1", "GET /freeUpdate/isweb.asp HTTP/3.1\r\nHost: a\r\n\r\n", 505},
        {"HTTP/1.0 without Host", "GET /freeUpdate/isweb.asp HTTP/1.0\r\n\r\n", 200},
        {"unknown method", "FETCH /freeUpdate/isweb.asp" + get, 405},
        {"long address", "GET /freeUpdate/isweb.asp?" + std::string(5000, 'a') + get, 414},
        {"oversized header",
         "GET /freeUpdate/isweb.asp HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + get.substr(9),
         400},
        {"HEAD with a body",
         "HEAD /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nContent-Length: "
         "40\r\n\r\nGET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n\r\n",
         400},
        {"folded Transfer-Encoding", checkHead + "Transfer-Encoding:\r\n chunked\r\n\r\n0\r\n\r\n",
         400},
        {"gzip", checkHead + "Transfer-Encoding: gzip\r\n\r\n", 501},
        {"gzip, chunked", checkHead + "Transfer-Encoding: gzip, chunked\r\n\r\n", 501},
        {"chunked on HTTP/1.0",
         "GET /freeUpdate/isweb.asp HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
        {"length +5", checkHead + "Content-Length: +5\r\n\r\nhello", 400},
        {"chunk 0x3", checkHead + "Transfer-Encoding: chunked\r\n\r\n0x3\r\nabc\r\n0\r\n\r\n", 400},
        {"NUL in a value", checkHead + std::string("X: a\0b\r\n\r\n", 11), 400},
        {"HTTP/1.2", "GET /freeUpdate/isweb.asp HTTP/1.2\r\nHost: a\r\nConnection: close\r\n\r\n",
         200},
        {"HTTP/10.0", "GET /freeUpdate/isweb.asp HTTP/10.0\r\nHost: a\r\n\r\n", 505},
        {"HTTP/0.9", "GET /freeUpdate/isweb.asp HTTP/0.9\r\n\r\n", 400},
        {"bad version", "GET / H.1\r\n\r\n", 400},
        {"CONNECT", "CONNECT a:443 HTTP/1.1\r\nHost: a\r\n\r\nGET /freeUpdate/isweb.asp" + get,
         405},
        {"sends nothing", "", 0},
        {"half a request", "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Response r = Exchange(m_server->Port(), c.request, 5000);
        EXPECT_EQ(r.status, c.status);
        EXPECT_LT(r.seconds, 4.0) << "not cut off";
        EXPECT_EQ(r.Header("Allow"), r.status == 405 ? "GET, HEAD" : "");
        EXPECT_EQ(r.Header("Date").empty(), r.status == 0);
        EXPECT_EQ(r.body.find("HTTP/1."), std::string::npos) << "a second reply";
    }
    EXPECT_EQ(Ask("/freeUpdate/isweb.asp").body, "true") << "still serving after all that";
}

// Each head of a pipeline is judged on its own, as nginx judges it; every reply says HTTP/1.1.
TEST_F(Served, EachPipelinedHeadIsJudgedOnItsOwn) {
    const std::string valid = "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n";
    const struct {
        const char* name;
        std::string requests;
        std::vector<std::string> statuses;
    } cases[] = {
        {"folded second", valid + "\r\n" + valid + "X: b\r\n c\r\n\r\n", {"200", "400"}},
        {"HTTP/2.0 second", valid + "\r\nGET / HTTP/2.0\r\nHost: a\r\n\r\n", {"200", "505"}},
        {"folded after a zero length",
         valid + "Content-Length: 0\r\n\r\n" + valid + "X: b\r\n c\r\n\r\n",
         {"200", "400"}},
        {"absolute form",
         "GET http://a/freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n\r\n" + valid +
             "Connection: close\r\n\r\n",
         {"200", "200"}},
        {"a body", valid + "Content-Length: 5\r\n\r\nhello" + valid + "\r\n", {"400"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Response r = Exchange(m_server->Port(), c.requests, 3000);
        const std::string all = "HTTP/1.1 " + std::to_string(r.status) + " " + r.body;
        std::vector<std::string> statuses;
        const std::regex status("HTTP/1\\.1 (\\d{3}) ");
        for (auto at = std::sregex_iterator(all.begin(), all.end(), status);
             at != std::sregex_iterator(); ++at)
            statuses.push_back((*at)[1]);
        EXPECT_EQ(statuses, c.statuses) << all;
        EXPECT_LT(r.seconds, 2.5) << "left open";
    }
}

// Every request has the deadline: the first one, and each one after on a kept-alive
// connection.
TEST_F(Served, AClientDrippingARequestIsCutOffAtTheDeadline) {
    const std::string whole = "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n\r\n";
    for (const int answered : {0, 1, 3}) {
        SCOPED_TRACE(std::to_string(answered) + " requests answered before");
        const int sock = Connect(m_server->Port());
        ASSERT_GE(sock, 0);
        for (int i = 0; i < answered; ++i) {
            ::send(sock, whole.data(), whole.size(), MSG_NOSIGNAL);
            std::string reply;
            for (int tries = 0; tries < 50 && !reply.ends_with("true"); ++tries) {
                pollfd ready{sock, POLLIN, 0};
                char chunk[4096];
                if (::poll(&ready, 1, 100) > 0) {
                    const ssize_t got = ::recv(sock, chunk, sizeof chunk, 0);
                    if (got <= 0) break;
                    reply.append(chunk, static_cast<size_t>(got));
                }
            }
            ASSERT_TRUE(reply.ends_with("true")) << reply;
        }
        const std::string start = "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nX-Slow: ";
        ::send(sock, start.data(), start.size(), MSG_NOSIGNAL);
        const auto begin = std::chrono::steady_clock::now();
        bool closed = false;
        // One byte each 100 ms: never silent for long, but never done either.
        for (int i = 0; i < 40 && !closed; ++i) {
            closed = ::send(sock, "a", 1, MSG_NOSIGNAL) < 0;
            pollfd ready{sock, POLLIN, 0};
            char byte;
            if (!closed && ::poll(&ready, 1, 100) > 0) closed = ::recv(sock, &byte, 1, 0) <= 0;
        }
        ::close(sock);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_TRUE(closed);
        EXPECT_GT(seconds, 0.5);
        EXPECT_LT(seconds, 3.0);
    }
}

TEST_F(Served, APublishedReleaseIsTakenWithoutARestartAndTheOldOneStaysForAWhile) {
    const std::string newPath = "/download/2.0.2.0/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";
    Publish(m_release, Fixture("v2_0_2_0.exe"));
    ASSERT_TRUE(WaitForRecord("#2.0.2.0#" + m_server->Base() + newPath.substr(1) + "#"));
    EXPECT_TRUE(Ask(newPath).body == ReadBytes(Fixture("v2_0_2_0.exe")));
    EXPECT_TRUE(Ask(kProgramPath).body == m_program) << "the previous release went at once";

    // A copy written in place, half done: never taken, the checked release goes on.
    const std::string other = ReadBytes(Fixture("v1_0_10_0.exe"));
    WriteBytes(m_release / "Tanvik体验版.exe", other.substr(0, other.size() / 2));
    usleep(2600000);  // checked once it has stayed the same for 2 s
    EXPECT_TRUE(WaitForRecord("#2.0.2.0#"));
    EXPECT_TRUE(Ask(newPath).body == ReadBytes(Fixture("v2_0_2_0.exe")));

    // The pause switch, and the previous release gone after --keep-previous (2 s).
    WriteRelease(m_release, Fixture("v2_0_2_0.exe"), true);
    for (int i = 0; i < 100 && !Ask("/freeUpdate/isweb.asp").body.empty(); ++i) usleep(50000);
    EXPECT_EQ(Ask("/freeUpdate/isweb.asp").body, "");
    for (int i = 0; i < 60 && Ask(kProgramPath).status != 404; ++i) usleep(100000);
    EXPECT_EQ(Ask(kProgramPath).status, 404);
    EXPECT_NE(m_server->Errors().find("not taken"), std::string::npos) << m_server->Errors();
}

// An address never serves other bytes; a link is followed only to a file inside the folder.
TEST_F(Served, NewBytesUnderTheSameVersionGetAnAddressOfTheirOwnAndLinksStayInTheFolder) {
    const fs::path grown = GrownProgram(m_place.Path(), "v2_0_1_5.exe", m_program.size() + 4096);
    Publish(m_release, grown);
    std::string record = kProgramPath;
    for (int i = 0; i < 100 && record.find(kProgramPath.substr(1)) != std::string::npos; ++i) {
        usleep(50000);
        record = Ask("/freeUpdate/update.asp?action=Auto").body;
    }
    ASSERT_TRUE(record.starts_with("#2.0.1.5#" + m_server->Base() + "download/2.0.1.5/")) << record;
    ASSERT_EQ(record.find(kProgramPath.substr(1)), std::string::npos) << "the same address";
    const size_t from = record.find("download/");
    std::string newPath = "/";
    newPath.append(record, from, record.size() - 1 - from);
    EXPECT_TRUE(Ask(newPath).body == ReadBytes(grown)) << newPath;
    EXPECT_TRUE(Ask(kProgramPath).body == m_program) << "the old address serves other bytes";

    const struct {
        const char* name;
        fs::path target;
        bool taken;
    } links[] = {{"out of the folder", m_place.Path() / "outside.exe", false},
                 {"inside the folder", m_release / "inside.exe", true}};
    for (const auto& link : links) {
        SCOPED_TRACE(link.name);
        fs::copy_file(Fixture("v2_0_2_0.exe"), link.target);
        fs::create_symlink(link.target, m_release / "link.part");
        fs::rename(m_release / "link.part", m_release / "Tanvik体验版.exe");
        usleep(2800000);
        EXPECT_EQ(WaitForRecord("#2.0.2.0#"), link.taken);
    }
    // Long after the first bytes went (--keep-previous 2), their address still serves no other.
    const fs::path third = m_place.Path() / "third.exe";
    WriteBytes(third, ReadBytes(Fixture("v2_0_1_5.exe")) + std::string(8192, 'c'));
    Publish(m_release, third);
    EXPECT_TRUE(WaitForRecord("#2.0.1.5#"));
    EXPECT_EQ(Ask("/freeUpdate/update.asp?action=Auto").body.find(kProgramPath.substr(1)),
              std::string::npos);
    EXPECT_EQ(Ask(kProgramPath).status, 404);
    EXPECT_NE(m_server->Errors().find("is a link that leads out of the release folder"),
              std::string::npos)
        << m_server->Errors();
}

// Stopping at once abandons a release check under way, and leaves none of its copy.
TEST_F(Served, SigtermAndSigintStopItCleanly) {
    Publish(m_release, GrownProgram(m_place.Path(), "v2_0_1_5.exe", 256 << 20));
    for (int i = 0; i < 2000 && !fs::exists(m_store / "copies" / "2"); ++i) usleep(5000);
    ASSERT_TRUE(fs::exists(m_store / "copies" / "2")) << "the check did not start";
    EXPECT_EQ(m_server->Stop(), 0);
    EXPECT_NE(m_server->Errors().find("stopped"), std::string::npos);
    EXPECT_NE(m_server->Errors().find("release check abandoned"), std::string::npos)
        << m_server->Errors();
    EXPECT_FALSE(HoldsCopies(m_store)) << "checked copies were left behind";

    ServerProcess again({"--listen", "127.0.0.1:0", m_release.string()});
    ASSERT_TRUE(again.WaitUntilListening());
    ASSERT_EQ(Get(again.Port(), "/freeUpdate/isweb.asp").status, 200);
    EXPECT_EQ(again.Stop(SIGINT), 0);
    EXPECT_EQ(Get(again.Port(), "/freeUpdate/isweb.asp").status, 0);
}

namespace {

// A release of a program of `size` bytes in a place of its own, and a server for it.
struct OwnRelease {
    explicit OwnRelease(size_t size = 0) {
        program = size ? GrownProgram(place.Path(), "v2_0_1_5.exe", size) : Fixture("v2_0_1_5.exe");
        WriteRelease(release, program);
    }
    std::vector<std::string> Arguments(std::vector<std::string> options) const {
        options.insert(options.begin(), {"--listen", "127.0.0.1:0"});
        if (std::find(options.begin(), options.end(), "--store") == options.end())
            options.insert(options.end(), {"--store", store.string()});
        options.push_back(release.string());
        return options;
    }
    TempFolder place;
    fs::path release = place.Path() / "release";
    fs::path store = place.Path() / "store";
    fs::path program;
};

// Reads a download on its own thread while the test signals the server.
struct Download {
    Download(int port, const std::string& target) : sock(Connect(port)) {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
        ::send(sock, request.data(), request.size(), MSG_NOSIGNAL);
        reader = std::thread([this] { ReadUntilClosed(sock, received, 20000); });
    }
    ~Download() {
        if (reader.joinable()) reader.join();
        ::close(sock);
    }
    std::string Body() {
        reader.join();
        const size_t end = received.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : received.substr(end + 4);
    }
    int sock;
    std::string received;
    std::thread reader;
};

double CpuSeconds(pid_t pid) {
    std::istringstream fields(ReadBytes("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    double ticks = 0;
    for (int i = 1; fields >> field && i <= 15; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

// A reply has no deadline: a download that lasts longer than the request deadline (1 s) goes on,
// and the kept-alive connection then serves its next request.
TEST(LongReplies, ADownloadLastingPastTheRequestDeadlineArrivesWholeAndTheConnectionGoesOn) {
    OwnRelease own(3 << 20);
    ServerProcess server(own.Arguments({"--request-limit", "1", "--rate-limit", "1100000"}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const Response r =
        Exchange(server.Port(),
                 "GET " + kProgramPath +
                     " HTTP/1.1\r\nHost: a\r\n\r\n"
                     "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
                 15000);
    EXPECT_EQ(r.status, 200);
    const std::string program = ReadBytes(own.program);
    EXPECT_TRUE(r.body.starts_with(program)) << r.body.size() << " bytes";
    EXPECT_TRUE(r.body.ends_with("\r\n\r\ntrue")) << "no second reply";
    EXPECT_GT(r.seconds, 2.0) << "the rate limit did not hold";
}

// A client that takes no byte of its download for the stall limit loses it; one download holds
// no descriptor but its socket, the release's file being open once for all.
TEST(LongReplies, AStalledDownloadEndsAndDownloadsShareTheOpenProgram) {
    const size_t size = 6 << 20;  // more than the sockets' buffers hold
    OwnRelease own(size);
    ServerProcess server(own.Arguments({"--stall-limit", "2"}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const auto descriptors = [&] {
        return std::distance(
            fs::directory_iterator("/proc/" + std::to_string(server.Pid()) + "/fd"),
            fs::directory_iterator());
    };
    const auto idle = descriptors();
    // Clients that ask and then read nothing: their downloads stay under way, then stall.
    std::vector<int> clients;
    const std::string request = "GET " + kProgramPath + " HTTP/1.1\r\nHost: a\r\n\r\n";
    for (int i = 0; i < 8; ++i) {
        clients.push_back(Connect(server.Port()));
        ::send(clients.back(), request.data(), request.size(), MSG_NOSIGNAL);
    }
    usleep(500000);
    EXPECT_LE(descriptors(), idle + 8) << "more than the socket for a download";
    usleep(3500000);
    for (const int sock : clients) {
        std::string received;
        EXPECT_TRUE(ReadUntilClosed(sock, received, 3000)) << "a stalled download stayed open";
        EXPECT_LT(received.size(), size);
        ::close(sock);
    }
}

TEST(Signals, SighupReadsTheReleaseFolderAgainAndTheServerGoesOn) {
    OwnRelease own;
    ServerProcess server(own.Arguments({"--poll", "3600"}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    Publish(own.release, Fixture("v2_0_2_0.exe"));
    ::kill(server.Pid(), SIGHUP);
    std::string record;
    for (int i = 0; i < 40 && record.find("#2.0.2.0#") == std::string::npos; ++i) {
        usleep(50000);
        record = Get(server.Port(), "/freeUpdate/update.asp?action=Auto").body;
    }
    EXPECT_NE(record.find("#2.0.2.0#"), std::string::npos) << record;
    EXPECT_EQ(server.Stop(), 0) << server.Errors();
}

// SIGQUIT: no new connection, idle ones closed at once, downloads under way finish within the
// drain time.
TEST(Signals, SigquitLetsDownloadsUnderWayFinishWithinTheDrainTime) {
    const struct {
        const char* drain;
        bool whole;
        double atMost;  // seconds from the signal to the end
    } cases[] = {{"30", true, 6.0}, {"0.5", false, 1.8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("--drain ") + c.drain);
        OwnRelease own(3 << 20);
        ServerProcess server(own.Arguments({"--rate-limit", "1500000", "--drain", c.drain}));
        ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
        const int idle = Connect(server.Port());
        Download download(server.Port(), kProgramPath);
        usleep(300000);
        const auto signalled = std::chrono::steady_clock::now();
        ::kill(server.Pid(), SIGQUIT);
        std::string ignored;
        EXPECT_TRUE(ReadUntilClosed(idle, ignored, 1000)) << "an idle connection stayed open";
        ::close(idle);
        usleep(100000);
        const int late = Connect(server.Port());
        EXPECT_LT(late, 0) << "still listening";
        if (late >= 0) ::close(late);
        EXPECT_EQ(download.Body() == ReadBytes(own.program), c.whole);
        EXPECT_EQ(server.Stop(0, 10000), 0) << server.Errors();  // it ends by itself
        EXPECT_LT(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count(),
            c.atMost);
        EXPECT_FALSE(HoldsCopies(own.store));
    }
}

TEST(Store, ServesOneServerAtATimeAndLosesWhatAKilledRunLeft) {
    OwnRelease own;
    fs::create_directories(own.store / "copies" / "7");
    WriteBytes(own.store / "copies" / "7" / "left.exe", "left by a killed run");
    ServerProcess first(own.Arguments({}));
    ASSERT_TRUE(first.WaitUntilListening()) << first.Errors();
    EXPECT_FALSE(fs::exists(own.store / "copies" / "7"));
    ServerProcess second(own.Arguments({}));
    EXPECT_FALSE(second.WaitUntilListening());
    EXPECT_EQ(second.Stop(), 2);
    EXPECT_NE(second.Errors().find("in use by another update-server"), std::string::npos)
        << second.Errors();

    // After a restart, an address that once served other bytes serves no new ones, and the
    // export gives the address the server gives.
    EXPECT_EQ(first.Stop(), 0);
    const fs::path grown =
        GrownProgram(own.place.Path(), "v2_0_1_5.exe", ReadBytes(own.program).size() + 4096);
    Publish(own.release, grown);
    ServerProcess restarted(own.Arguments({}));
    ASSERT_TRUE(restarted.WaitUntilListening()) << restarted.Errors();
    const std::string record = Get(restarted.Port(), "/freeUpdate/update.asp?action=Auto").body;
    ASSERT_TRUE(record.starts_with("#2.0.1.5#" + restarted.Base() + "download/")) << record;
    EXPECT_EQ(record.find(kProgramPath.substr(1)), std::string::npos) << record;
    EXPECT_EQ(Get(restarted.Port(), kProgramPath).status, 404);
    const size_t from = record.find("download/");
    EXPECT_TRUE(Get(restarted.Port(), "/" + record.substr(from, record.size() - 1 - from)).body ==
                ReadBytes(grown));
    const fs::path out = own.place.Path() / "export";
    ASSERT_EQ(std::system((std::string(UPDATE_SERVER_PROGRAM) + " export --public-url " +
                           restarted.Base() + " --store " + own.store.string() + " " +
                           own.release.string() + " " + out.string() + " >/dev/null")
                              .c_str()),
              0);
    EXPECT_EQ(ReadBytes(out / "site" / "freeUpdate" / "update.asp-Auto"), record);
    EXPECT_EQ(fs::file_size(out / "site" /
                            fs::path(record.substr(from, record.size() - 1 - from)).parent_path() /
                            "Tanvik体验版.exe"),
              fs::file_size(grown));
    EXPECT_EQ(restarted.Stop(), 0);

    // A program still being written in place when the server starts is taken once whole.
    const std::string whole = ReadBytes(own.program) + std::string(1 << 20, 'w');
    WriteBytes(own.release / "Tanvik体验版.exe", whole.substr(0, whole.size() / 2));
    ServerProcess early(own.Arguments({}));
    usleep(500000);
    WriteBytes(own.release / "Tanvik体验版.exe", whole);
    ASSERT_TRUE(early.WaitUntilListening()) << early.Errors();
    const std::string late = Get(early.Port(), "/freeUpdate/update.asp?action=Auto").body;
    const size_t lateFrom = late.find("download/");
    ASSERT_NE(lateFrom, std::string::npos) << late;
    EXPECT_TRUE(Get(early.Port(), "/" + late.substr(lateFrom, late.size() - 1 - lateFrom)).body ==
                whole)
        << "taken before it was whole";

    // Without --store: a folder of the server's own under the state folder, locked alike.
    const fs::path state = own.place.Path() / "state";
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    ServerProcess byDefault({"--listen", "127.0.0.1:0", own.release.string()});
    ServerProcess again({"--listen", "127.0.0.1:0", own.release.string()});
    ::unsetenv("XDG_STATE_HOME");
    const bool listening = byDefault.WaitUntilListening();
    EXPECT_NE(listening, again.WaitUntilListening()) << "two servers on one store";
    ServerProcess& holder = listening ? byDefault : again;
    ASSERT_TRUE(fs::is_directory(state / "update-server"));
    const fs::path store = fs::directory_iterator(state / "update-server")->path();
    EXPECT_TRUE(store.filename().string().starts_with("release-")) << store;
    EXPECT_TRUE(HoldsCopies(store));
    EXPECT_EQ(holder.Stop(), 0);
    EXPECT_FALSE(HoldsCopies(store));
}

// At the connection cap, new clients wait in the backlog; out of descriptors, the server rests
// instead of spinning, keeps its release and answers downloads, and recovers.
TEST(Descriptors, TheServerKeepsToItsCapAndRidesOutExhaustion) {
    OwnRelease own;
    {
        ServerProcess server(own.Arguments({"--max-connections", "4", "--request-limit", "5"}));
        ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
        std::vector<int> idle;
        for (int i = 0; i < 4; ++i) idle.push_back(Connect(server.Port()));
        usleep(200000);
        EXPECT_EQ(
            Exchange(server.Port(), "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n\r\n", 700)
                .status,
            0)
            << "served past the cap";
        ::close(idle.back());
        idle.pop_back();
        EXPECT_EQ(Get(server.Port(), "/freeUpdate/isweb.asp").status, 200) << "no room made";
        for (const int sock : idle) ::close(sock);
    }
    ServerProcess server(
        own.Arguments({"--max-connections", "1000", "--request-limit", "30", "--poll", "0.1"}), 48);
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const int early = Connect(server.Port());
    usleep(100000);
    std::vector<int> flood;
    for (int i = 0; i < 80; ++i) flood.push_back(Connect(server.Port()));
    usleep(300000);
    // The folder changes while no file can be opened: nothing is taken, nothing dropped.
    WriteRelease(own.release, Fixture("v2_0_1_5.exe"), true);
    const double cpuBefore = CpuSeconds(server.Pid());
    usleep(1500000);
    EXPECT_LT(CpuSeconds(server.Pid()) - cpuBefore, 0.5) << "spinning";
    const std::string request =
        "GET " + kProgramPath + " HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
    ::send(early, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    ReadUntilClosed(early, reply, 3000);
    ::close(early);
    const int status = reply.size() > 12 ? std::atoi(reply.c_str() + 9) : 0;
    EXPECT_TRUE(status == 200 || (status == 503 && reply.find("Retry-After:") != std::string::npos))
        << reply.substr(0, 200);
    for (const int sock : flood) ::close(sock);
    std::string check;
    for (int i = 0; i < 60 && (check = Get(server.Port(), "/freeUpdate/isweb.asp").body) != ""; ++i)
        usleep(100000);
    EXPECT_EQ(check, "") << "the paused release was not taken after the exhaustion";
    const std::string errors = server.Errors();
    EXPECT_EQ(errors.find("not taken"), std::string::npos) << errors;
    size_t reports = 0;
    for (size_t at = 0; (at = errors.find("cannot accept", at)) != std::string::npos; ++at)
        ++reports;
    EXPECT_GE(reports, 1u);
    EXPECT_LE(reports, 4u) << errors;
}

// Clients that connect in a burst while the server is busy wait in its queue, as they would
// at nginx's: one whose connection attempt is dropped tries again only a second or more later.
TEST(Descriptors, ABurstOfClientsWaitsInTheQueue) {
    OwnRelease own;
    ServerProcess server(own.Arguments({}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    std::ifstream limit("/proc/sys/net/core/somaxconn");
    int systemQueue = 0;
    limit >> systemQueue;
    const int burst = std::clamp(systemQueue, 1, 400);
    ::kill(server.Pid(), SIGSTOP);
    std::vector<pollfd> clients;
    for (int i = 0; i < burst; ++i) clients.push_back({StartConnecting(server.Port()), POLLOUT, 0});
    usleep(300000);
    ::poll(clients.data(), clients.size(), 0);
    ::kill(server.Pid(), SIGCONT);
    const auto connected = std::count_if(clients.begin(), clients.end(), [](const pollfd& client) {
        int error = 0;
        socklen_t size = sizeof error;
        return (client.revents & POLLOUT) &&
               ::getsockopt(client.fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    });
    EXPECT_EQ(connected, burst);
    for (const pollfd& client : clients) ::close(client.fd);
}

// Connections that end and begin at the same moment, on both listeners, so that a descriptor
// just closed is soon the number of a new connection: every one is answered, and the event
// library has nothing to complain of.
TEST(Descriptors, ConnectionsEndingAndBeginningAtOnceAreAllAnswered) {
    OwnRelease own;
    ServerProcess server(own.Arguments({"--metrics-listen", "127.0.0.1:0"}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const int ports[] = {server.Port(), MetricsPort(server)};
    ASSERT_NE(ports[1], 0) << server.Errors();
    constexpr int kClients = 4, kRounds = 150;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client)
        clients.emplace_back([&, client] {
            for (int round = 0; round < kRounds; ++round) {
                const bool metrics = (client + round) % 2;
                const Response reply =
                    Get(ports[metrics], metrics ? "/metrics" : "/freeUpdate/isweb.asp");
                answered += reply.status == 200;
            }
        });
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(answered, kClients * kRounds);
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_EQ(server.Errors().find("[warn]"), std::string::npos) << server.Errors();
}

// What a vendor watches: the access log in nginx's combined format, and the metrics page. A
// download cut by its client is logged with the bytes sent, and not counted as completed.
TEST(Watching, TheAccessLogAndTheMetricsPageTellWhatWasServed) {
    OwnRelease own(32 << 20);  // more than the sockets' buffers hold
    const fs::path log = own.place.Path() / "access.log";
    ServerProcess server(
        own.Arguments({"--access-log", log.string(), "--metrics-listen", "127.0.0.1:0"}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const int metricsPort = MetricsPort(server);
    ASSERT_NE(metricsPort, 0) << server.Errors();
    const std::string agent = "User-Agent: tester \"1\"\r\nReferer: http://a/\r\n";
    EXPECT_EQ(Get(server.Port(), "/freeUpdate/isweb.asp", agent).status, 200);
    EXPECT_EQ(Get(server.Port(), kProgramPath, agent).status, 200);
    EXPECT_EQ(Get(server.Port(), "/freeUpdate/none.asp", agent).status, 404);
    // Labelled by the route resolved, not by the address as written; refused by the library
    // or by the head checks, logged and counted all the same.
    EXPECT_EQ(Get(server.Port(), "/freeUpdate/isweb%2Easp").status, 200);
    EXPECT_EQ(Get(server.Port(), "/freeUpdate/isweb.aspx").status, 404);
    EXPECT_EQ(Get(server.Port(), "/%64ownload/2%2e0%2e1%2e5/" + kProgramPath.substr(18)).status,
              200);
    for (const char* refused :
         {"GET / HTTP/1.1\r\nHost: a\r\nNo colon\r\n\r\n", "GET / HTTP/10.0\r\nHost: a\r\n\r\n",
          "FETCH / HTTP/1.1\r\nHost: a\r\n\r\n"})
        EXPECT_NE(Exchange(server.Port(), refused).status, 0) << refused;
    {
        const int cut = Connect(server.Port());
        const std::string request = "GET " + kProgramPath + " HTTP/1.1\r\nHost: a\r\n\r\n";
        ::send(cut, request.data(), request.size(), MSG_NOSIGNAL);
        std::string some;  // the head and some of the program
        char chunk[4096];
        for (ssize_t got = 1; got > 0 && (some.find("\r\n\r\n") == std::string::npos ||
                                          some.size() < some.find("\r\n\r\n") + 5);)
            if ((got = ::recv(cut, chunk, sizeof chunk, 0)) > 0) some.append(chunk, got);
        const linger reset{1, 0};  // gone at once, as a client killed mid-way
        ::setsockopt(cut, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(cut);
    }
    const unsigned long long size = ReadBytes(own.program).size();
    const std::string sentLine = "\nupdate_server_download_bytes_sent_total{version=\"2.0.1.5\"} ";
    std::string page;
    for (int i = 0; i < 50; ++i, usleep(100000)) {
        page = Get(metricsPort, "/metrics").body;
        const size_t sent = page.find(sentLine);
        if (sent != std::string::npos &&
            std::stod(page.substr(sent + sentLine.size())) > 2.0 * size)
            break;
    }
    for (const std::string& line :
         {std::string("update_server_requests_total{endpoint=\"isweb.asp\",status=\"200\"} 2"),
          std::string("update_server_requests_total{endpoint=\"download\",status=\"200\"} 3"),
          std::string("update_server_requests_total{endpoint=\"other\",status=\"404\"} 2"),
          std::string("update_server_requests_total{endpoint=\"other\",status=\"400\"} 1"),
          std::string("update_server_requests_total{endpoint=\"other\",status=\"505\"} 1"),
          std::string("update_server_requests_total{endpoint=\"other\",status=\"405\"} 1"),
          std::string("update_server_downloads_started_total{version=\"2.0.1.5\"} 3"),
          std::string("update_server_downloads_completed_total{version=\"2.0.1.5\"} 2"),
          std::string("update_server_offered_release{version=\"2.0.1.5\"} 1"),
          std::string("update_server_publishes_total 0"),
          std::string("update_server_open_connections "),
          std::string("update_server_publishes_refused_total 0")})
        EXPECT_NE(page.find("\n" + line), std::string::npos) << line << "\n" << page;
    ASSERT_NE(page.find(sentLine), std::string::npos) << page;
    const double sent = std::stod(page.substr(page.find(sentLine) + sentLine.size()));
    EXPECT_GT(sent, size);
    EXPECT_LT(sent, 3.0 * size) << "a cut download counted whole";
    EXPECT_EQ(server.Stop(), 0);
    const std::string written = ReadBytes(log);
    const std::regex combined(
        R"(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] "GET /freeUpdate/isweb\.asp HTTP/1\.1" 200 4 "http://a/" "tester \\x221\\x22"\n)");
    EXPECT_TRUE(std::regex_search(written, combined)) << written;
    EXPECT_NE(
        written.find("\"GET " + kProgramPath + " HTTP/1.1\" 200 " + std::to_string(size) + " "),
        std::string::npos);
    const std::string cutLine = "\"GET " + kProgramPath + " HTTP/1.1\" 200 ";
    const size_t cutAt = written.rfind(cutLine);
    ASSERT_NE(cutAt, std::string::npos) << written;
    EXPECT_DOUBLE_EQ(std::stod(written.substr(cutAt + cutLine.size())) + 2 * size, sent) << written;
    EXPECT_NE(written.find("\"GET /freeUpdate/none.asp HTTP/1.1\" 404 "), std::string::npos);
    for (const char* line :
         {"\"GET / HTTP/1.1\" 400 ", "\"GET / HTTP/10.0\" 505 ", "\"FETCH / HTTP/1.1\" 405 "})
        EXPECT_NE(written.find(line), std::string::npos) << line << "\n" << written;
}

// The metrics' port is capped, timed and paused with the main one: idle clients there are cut
// at the request deadline and count against the one cap.
TEST(Descriptors, TheMetricsPortSharesTheCapAndTheDeadline) {
    OwnRelease own;
    ServerProcess server(own.Arguments(
        {"--metrics-listen", "127.0.0.1:0", "--max-connections", "2", "--request-limit", "1"}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const int idle[] = {Connect(MetricsPort(server)), Connect(MetricsPort(server))};
    usleep(200000);
    EXPECT_EQ(Exchange(server.Port(), "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n\r\n", 500)
                  .status,
              0)
        << "served past the cap";
    for (const int sock : idle) {
        std::string ignored;
        EXPECT_TRUE(ReadUntilClosed(sock, ignored, 2500)) << "an idle metrics client stayed";
        ::close(sock);
    }
    EXPECT_EQ(Get(server.Port(), "/freeUpdate/isweb.asp").status, 200);
}

// A client that keeps sending while its download goes out is not read ahead of its requests.
TEST(LongReplies, BytesSentDuringADownloadWaitInTheClientsSocket) {
    OwnRelease own(64 << 20);
    ServerProcess server(own.Arguments({}));
    ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
    const auto rss = [&] {
        const std::string status = ReadBytes("/proc/" + std::to_string(server.Pid()) + "/status");
        return std::atol(status.c_str() + status.find("VmRSS:") + 6);  // KiB
    };
    const long before = rss();
    const int sock = Connect(server.Port());
    const std::string request = "GET " + kProgramPath + " HTTP/1.1\r\nHost: a\r\n\r\n";
    ::send(sock, request.data(), request.size(), MSG_NOSIGNAL);
    const std::string junk(64 << 10, 'j');
    long most = before;
    size_t pushed = 0, received = 0;
    char chunk[16384];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
        const ssize_t sent = ::send(sock, junk.data(), junk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        pushed += sent > 0 ? sent : 0;
        const ssize_t got = ::recv(sock, chunk, sizeof chunk, MSG_DONTWAIT);
        received += got > 0 ? got : 0;
        most = std::max(most, rss());
        usleep(2000);
    }
    ::close(sock);
    EXPECT_GT(received, 1u << 20) << "the download did not go on";
    EXPECT_GT(pushed, 1u << 20) << "the client could not push";
    EXPECT_LT(most - before, 8 << 10) << "KiB grown while " << pushed << " bytes were pushed";
}

// Times that would overflow the server's clock arithmetic are refused with a clear error.
TEST(Options, TimesBeyondAYearAreRefused) {
    OwnRelease own;
    for (const char* option : {"--keep-previous", "--request-limit", "--drain"}) {
        ServerProcess server(own.Arguments({option, "1e10"}));
        EXPECT_FALSE(server.WaitUntilListening()) << option;
        EXPECT_EQ(server.Stop(), 2);
        EXPECT_NE(server.Errors().find(std::string(option) + " wants at most 31536000 seconds"),
                  std::string::npos)
            << server.Errors();
    }
}
