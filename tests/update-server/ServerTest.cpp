// update-server on 127.0.0.1, as installed updaters and other clients see it: each reply, the
// program with ranges and validators, bad and slow requests, a release folder changed while
// it serves, and a clean stop.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <chrono>

#include "ServerProcess.h"

using namespace testing_vendor;

namespace {

const std::string kProgramPath = "/download/2.0.1.5/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";

class Served : public testing::Test {
protected:
    void SetUp() override {
        WriteRelease(m_release, Fixture("v2_0_1_5.exe"));
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            "--listen", "127.0.0.1:0", "--request-limit", "1", "--poll", "0.1",
            "--keep-previous", "2", "--store", m_store.string(), m_release.string()});
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
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(c.method == std::string("HEAD")
                                                                  ? record.size()
                                                                  : c.body.size()));
        EXPECT_EQ(r.Header("Cache-Control"), "no-cache, no-store, must-revalidate");
    }
    const Response notes = Ask("/freeUpdate/log.asp");
    EXPECT_EQ(notes.Header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(notes.body.find("<p>修正</p>"), std::string::npos);
    EXPECT_NE(notes.body.find("Qorvel 2.0.1.5"), std::string::npos);
}

TEST_F(Served, TheProgramComesWholeOrInRangesAndNeverEncoded) {
    const std::string size = std::to_string(m_program.size());
    const std::string etag = Ask(kProgramPath, "", "HEAD").Header("ETag");
    ASSERT_FALSE(etag.empty());
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
        {"unknown version", "GET /download/9.9.9.9/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe" + get, 404},
        {"garbage", "HELLO\r\n\r\n", 400},
        {"method", "DELETE /freeUpdate/isweb.asp" + get, 501},
        {"oversized header",
         "GET /freeUpdate/isweb.asp HTTP/1.1\r\nX-Big: " + std::string(20000, 'a') + get.substr(9), 400},
        {"sends nothing", "", 0},
        {"half a request", "GET /freeUpdate/isweb.asp HTTP/1.1\r\nHost: a\r\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Response r = Exchange(m_server->Port(), c.request, 5000);
        EXPECT_EQ(r.status, c.status);
        EXPECT_LT(r.seconds, 4.0) << "not cut off";
    }
    EXPECT_EQ(Ask("/freeUpdate/isweb.asp").body, "true") << "still serving after all that";
}

TEST_F(Served, AClientDrippingItsRequestIsCutOffAtTheDeadline) {
    const int sock = Connect(m_server->Port());
    ASSERT_GE(sock, 0);
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

TEST_F(Served, APublishedReleaseIsTakenWithoutARestartAndTheOldOneStaysForAWhile) {
    const std::string newPath = "/download/2.0.2.0/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";
    Publish(m_release, Fixture("v2_0_2_0.exe"));
    ASSERT_TRUE(WaitForRecord("#2.0.2.0#" + m_server->Base() + newPath.substr(1) + "#"));
    EXPECT_TRUE(Ask(newPath).body == ReadBytes(Fixture("v2_0_2_0.exe")));
    EXPECT_TRUE(Ask(kProgramPath).body == m_program) << "the previous release went at once";

    // A copy written in place, half done: never taken, the checked release goes on.
    const std::string other = ReadBytes(Fixture("v1_0_10_0.exe"));
    WriteBytes(m_release / "Tanvik体验版.exe", other.substr(0, other.size() / 2));
    usleep(600000);
    EXPECT_TRUE(WaitForRecord("#2.0.2.0#"));
    EXPECT_TRUE(Ask(newPath).body == ReadBytes(Fixture("v2_0_2_0.exe")));

    // The pause switch, and the previous release gone after --keep-previous (2 s).
    WriteRelease(m_release, Fixture("v2_0_2_0.exe"), true);
    for (int i = 0; i < 60 && !Ask("/freeUpdate/isweb.asp").body.empty(); ++i) usleep(50000);
    EXPECT_EQ(Ask("/freeUpdate/isweb.asp").body, "");
    for (int i = 0; i < 60 && Ask(kProgramPath).status != 404; ++i) usleep(100000);
    EXPECT_EQ(Ask(kProgramPath).status, 404);
    EXPECT_NE(m_server->Errors().find("not taken"), std::string::npos) << m_server->Errors();
}

TEST_F(Served, SigtermAndSigintStopItCleanly) {
    EXPECT_EQ(m_server->Stop(), 0);
    EXPECT_NE(m_server->Errors().find("stopped"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(m_store)) << "checked copies were left behind";

    ServerProcess again({"--listen", "127.0.0.1:0", m_release.string()});
    ASSERT_TRUE(again.WaitUntilListening());
    ASSERT_EQ(Get(again.Port(), "/freeUpdate/isweb.asp").status, 200);
    EXPECT_EQ(again.Stop(SIGINT), 0);
    EXPECT_EQ(Get(again.Port(), "/freeUpdate/isweb.asp").status, 0);
}
