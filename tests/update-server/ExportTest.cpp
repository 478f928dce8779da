// The export served by real nginx (unprivileged, with a configuration of the test's own)
// answers like update-server itself, byte for byte.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "ServerProcess.h"
#include "StaticExport.h"

using namespace testing_vendor;

namespace {

int FreePort() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(sock);
    return ntohs(address.sin_port);
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

// nginx with the exported server block, as a daemon whose files all live in `folder`.
class Nginx {
public:
    Nginx(const fs::path& folder, const fs::path& serverBlock) : m_folder(folder) {
        const std::string f = folder.string();
        WriteBytes(folder / "nginx.conf",
                   // Started by root, nginx's workers would run as "nobody", who cannot
                   // read a private temporary folder.
                   std::string(getuid() == 0 ? "user root;\n" : "") +
                       "daemon on;\nworker_processes 1;\npid " + f + "/nginx.pid;\nerror_log " + f +
                       "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
                       "  client_body_temp_path " +
                       f + "/body;\n  proxy_temp_path " + f + "/proxy;\n  fastcgi_temp_path " + f +
                       "/fastcgi;\n  uwsgi_temp_path " + f + "/uwsgi;\n  scgi_temp_path " + f +
                       "/scgi;\n  include " + serverBlock.string() + ";\n}\n");
        m_started =
            Shell(std::string(NGINX_PROGRAM) + " -c " + f + "/nginx.conf -p " + f + " 2>&1") == 0;
    }
    ~Nginx() {
        if (m_started)
            Shell(std::string(NGINX_PROGRAM) + " -c " + m_folder.string() + "/nginx.conf -p " +
                  m_folder.string() + " -s stop 2>&1");
    }
    bool Started() const { return m_started; }

private:
    fs::path m_folder;
    bool m_started = false;
};

}  // namespace

TEST(Export, NginxServingTheExportAnswersLikeTheServer) {
    TempFolder place;
    const fs::path release = place.Path() / "release", out = place.Path() / "export";
    WriteRelease(release, Fixture("v2_0_1_5.exe"));
    // Signed: the record is signed once, kept outside the release folder (which a server may
    // only read), and both answer with it.
    const fs::path records = place.Path() / "signed-records.txt";
    const std::string key =
        std::string(" --signing-key ") + TEST_SIGNING_KEY + " --signed-records " + records.string();
    const int port = FreePort();
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    ASSERT_EQ(Shell(std::string(UPDATE_SERVER_PROGRAM) + " export" + key + " --public-url " + base +
                    " --listen 127.0.0.1:" + std::to_string(port) + " " + release.string() + " " +
                    out.string()),
              0);
    Nginx nginx(place.Path(), out / "nginx-server.conf");
    ASSERT_TRUE(nginx.Started()) << ReadBytes(place.Path() / "error.log");
    ServerProcess server({"--listen", "127.0.0.1:0", "--public-url", base, "--signing-key",
                          TEST_SIGNING_KEY, "--signed-records", records.string(),
                          release.string()});
    ASSERT_TRUE(server.WaitUntilListening());

    const std::string program = "/download/2.0.1.5/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";
    const struct {
        std::string target, headers;
        const char* method;
        int status;
    } cases[] = {
        {"/freeUpdate/isweb.asp", "", "GET", 200},
        {"/freeUpdate/update.asp?action=Auto", "", "GET", 200},
        {"/freeUpdate/update.asp?action=Hand", "", "GET", 200},
        {"/freeUpdate/log.asp", "", "GET", 200},
        {program, "Accept-Encoding: gzip\r\n", "GET", 200},
        {program, "", "HEAD", 200},
        {program, "Range: bytes=10-99\r\n", "GET", 206},
        {program, "Range: bytes=99999999-\r\n", "GET", 416},
        {"/freeUpdate/update.asp?action=Other", "", "GET", 400},
        {"/freeUpdate/update.asp-Auto", "", "GET", 404},
        {"/download/2.0.1.5/%2e%2e/%2e%2e/release/release.ini", "", "GET", 400},
        {"/release.ini", "", "GET", 404},
    };
    ASSERT_NE(server.Port(), port);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target + " " + c.headers + c.method);
        const Response ours = Get(server.Port(), c.target, c.headers, c.method);
        const Response theirs = Get(port, c.target, c.headers, c.method);
        EXPECT_EQ(ours.status, c.status);
        // nginx resolves the dots first and then finds nothing: a refusal as well.
        if (c.status == 400 && theirs.status == 404) continue;
        EXPECT_EQ(theirs.status, ours.status);
        if (ours.status >= 400) continue;  // error pages are each server's own
        EXPECT_TRUE(theirs.body == ours.body) << theirs.body.substr(0, 200);
        for (const char* header : {"Content-Type", "Content-Length", "Content-Range",
                                   "Cache-Control", "Content-Encoding"})
            EXPECT_EQ(theirs.Header(header), ours.Header(header)) << header;
    }
    EXPECT_NE(Get(port, "/freeUpdate/update.asp?action=Auto").body.find(";sig="),
              std::string::npos);
    EXPECT_FALSE(fs::exists(release / "signed-records.txt"));
    EXPECT_NE(ReadBytes(records).find(Get(port, "/freeUpdate/update.asp?action=Auto").body),
              std::string::npos);
    const std::string block = ReadBytes(out / "nginx-server.conf");
    EXPECT_NE(block.find("gzip off"), std::string::npos);
}
