// The export served by real nginx (unprivileged, with a configuration of the test's own)
// answers like update-server itself, byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "MurmurHash2.h"
#include "ServerProcess.h"
#include "Sha256.h"
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

std::string NginxCommand(const fs::path& folder) {
    return std::string(NGINX_PROGRAM) + " -c " + folder.string() + "/nginx.conf -p " +
           folder.string() + " 2>&1";
}

// An nginx.conf in `folder` that keeps all of nginx's files there and includes `serverBlock`.
void WriteNginxConf(const fs::path& folder, const fs::path& serverBlock) {
    const std::string f = folder.string();
    std::string quoted;
    for (const char c : serverBlock.string())
        quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    WriteBytes(folder / "nginx.conf",
               // Started by root, nginx's workers would run as "nobody", who cannot
               // read a private temporary folder.
               std::string(getuid() == 0 ? "user root;\n" : "") +
                   "daemon on;\nworker_processes 1;\npid " + f + "/nginx.pid;\nerror_log " + f +
                   "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
                   "  client_body_temp_path " +
                   f + "/body;\n  proxy_temp_path " + f + "/proxy;\n  fastcgi_temp_path " + f +
                   "/fastcgi;\n  uwsgi_temp_path " + f + "/uwsgi;\n  scgi_temp_path " + f +
                   "/scgi;\n  include \"" + quoted + "\";\n}\n");
}

// nginx with the exported server block, as a daemon whose files all live in `folder`.
class Nginx {
public:
    Nginx(const fs::path& folder, const fs::path& serverBlock) : m_folder(folder) {
        WriteNginxConf(folder, serverBlock);
        m_started = Shell(NginxCommand(folder)) == 0;
    }
    ~Nginx() {
        if (m_started) Shell(NginxCommand(m_folder) + " -s stop");
    }
    bool Started() const { return m_started; }

private:
    fs::path m_folder;
    bool m_started = false;
};

// `update-server export` of `release` into `out` (both quoted for the shell); its exit status.
int Export(const fs::path& release, const fs::path& out, const std::string& options) {
    return Shell(std::string(UPDATE_SERVER_PROGRAM) + " export " + options + " '" +
                 release.string() + "' '" + out.string() + "' >/dev/null 2>&1");
}

}  // namespace

// With a previous release, and so the patch from it.
TEST(Export, NginxServingTheExportAnswersLikeTheServer) {
    TempFolder place;
    const fs::path release = place.Path() / "release", out = place.Path() / "export";
    WriteRollout(release, "");
    // Signed: the record is signed once, kept outside the release folder (which a server may
    // only read), and both answer with it.
    const fs::path records = place.Path() / "signed-records.txt";
    const std::string key =
        std::string(" --signing-key ") + TEST_SIGNING_KEY + " --signed-records " + records.string();
    const int port = FreePort();
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    ASSERT_EQ(Export(release, out,
                     key + " --public-url " + base + " --listen 127.0.0.1:" + std::to_string(port)),
              0);
    Nginx nginx(place.Path(), out / "nginx-server.conf");
    ASSERT_TRUE(nginx.Started()) << ReadBytes(place.Path() / "error.log");
    ServerProcess server({"--listen", "127.0.0.1:0", "--public-url", base, "--signing-key",
                          TEST_SIGNING_KEY, "--signed-records", records.string(),
                          release.string()});
    ASSERT_TRUE(server.WaitUntilListening());

    const std::string program = "/download/2.0.2.0/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";
    const std::string patch =
        "/download/2.0.2.0/from/" + vendor::FileSha256(release / "previous.exe");
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
        {patch, "", "GET", 200},
        {patch, "Range: bytes=10-\r\n", "GET", 206},
        {"/download/2.0.2.0/from/" + std::string(64, '0'), "", "GET", 404},
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
    EXPECT_NE(
        ReadBytes(out / "addresses.txt")
            .find(Get(server.Port(), patch, "", "HEAD").Header("ETag") + "\t" + patch.substr(10)),
        std::string::npos);
    const std::string block = ReadBytes(out / "nginx-server.conf");
    EXPECT_NE(block.find("gzip off"), std::string::npos);
}

// nginx makes its ETag of a file's time and size, which two programs of the same version and
// size, exported within one second, share: an exported path never holds other bytes, so that
// its ETag names one set. An export made before the export kept its address book keeps its
// paths as well.
TEST(Export, OtherBytesOfTheSameVersionAndSizeGetAPathOfTheirOwn) {
    TempFolder place;
    const fs::path release = place.Path() / "release", out = place.Path() / "export";
    const int port = FreePort();
    const std::string options = " --store " + (place.Path() / "no-store").string() +
                                " --listen 127.0.0.1:" + std::to_string(port);
    WriteRelease(release, Fixture("v2_0_1_5.exe"));
    const auto variant = [](char fill) {
        return ReadBytes(Fixture("v2_0_1_5.exe")) + std::string(64 << 10, fill);
    };
    // Exports `fill`'s program, dated as every other; the path its record names.
    const auto exportVariant = [&](char fill) {
        WriteBytes(place.Path() / "next.exe", variant(fill));
        Publish(release, place.Path() / "next.exe");
        const timespec sameTime[2] = {{1700000000, 0}, {1700000000, 0}};
        ::utimensat(AT_FDCWD, (release / "Tanvik体验版.exe").c_str(), sameTime, 0);
        EXPECT_EQ(Export(release, out, options), 0);
        const std::string record = ReadBytes(out / "site" / "freeUpdate" / "update.asp-Auto");
        const size_t from = record.find("/download/");
        return record.substr(from, record.size() - 1 - from);
    };
    const std::string first = exportVariant('a');
    Nginx nginx(place.Path(), out / "nginx-server.conf");
    ASSERT_TRUE(nginx.Started()) << ReadBytes(place.Path() / "error.log");
    const std::string firstEtag = Get(port, first, "", "HEAD").Header("ETag");
    const std::string second = exportVariant('b');
    fs::remove(out / "addresses.txt");
    const std::string third = exportVariant('c');
    EXPECT_EQ(exportVariant('a'), first);
    EXPECT_NE(first, second);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
    for (const auto& [path, fill] : {std::pair{first, 'a'}, {second, 'b'}, {third, 'c'}}) {
        SCOPED_TRACE(path);
        const Response whole = Get(port, path);
        EXPECT_TRUE(whole.body == variant(fill));
        const Response resumed =
            Get(port, path, "Range: bytes=100-\r\nIf-Range: " + whole.Header("ETag") + "\r\n");
        EXPECT_EQ(resumed.status, 206);
        EXPECT_TRUE(resumed.body == variant(fill).substr(100));
    }
    EXPECT_EQ(Get(port, first, "", "HEAD").Header("ETag"), firstEtag);
}

// The server block's values are quoted: nginx takes any output folder it can serve from, and
// export refuses the ones it cannot, and listen values that are not an address.
TEST(Export, TheServerBlockTakesAnyFolderNginxCanServeFromAndRefusesTheRest) {
    TempFolder place;
    const fs::path release = place.Path() / "release";
    WriteRelease(release, Fixture("v2_0_1_5.exe"));
    const struct {
        const char* folder;
        const char* listen;
        bool exported;
    } cases[] = {
        {"out dir", "127.0.0.1:8080", true},
        {"exp;autoindex on;x", "[::1]:8080", true},  // one folder, no directive
        {"a \"quoted\" {folder} #1", "8080", true},
        {"exp$uri", "8080", false},
        {"plain", "80 default_server", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const fs::path out = place.Path() / c.folder;
        const std::string options =
            " --store " + (place.Path() / "no-store").string() + " --listen '" + c.listen + "'";
        ASSERT_EQ(Export(release, out, options) == 0, c.exported);
        if (!c.exported) {
            EXPECT_FALSE(fs::exists(out / "nginx-server.conf"));
            continue;
        }
        WriteNginxConf(place.Path(), out / "nginx-server.conf");
        EXPECT_EQ(Shell(NginxCommand(place.Path()) + " -q -t"), 0)
            << ReadBytes(out / "nginx-server.conf");
    }
}

// nginx's split_clients, as export writes it, offers every installation what update-server
// offers: ids on both sides of the share's bound, none and malformed ones; at 0 % and 100 %
// nobody is hashed, and the export writes no split at all.
TEST(Export, NginxOffersEachInstallationWhatTheServerOffers) {
    TempFolder place;
    const fs::path release = place.Path() / "release", out = place.Path() / "export";
    std::mt19937_64 random(5);
    std::vector<std::string> ids;
    for (int i = 0; i < 300; ++i) ids.push_back(RandomInstallId(random));
    // The ids nearest nginx's bound for 33.33 %, below it and above it, among many.
    const std::uint32_t bound =
        static_cast<std::uint32_t>(3333 * std::uint64_t{0xffffffff} / 10000);
    std::string below, above;
    for (std::uint32_t nearestBelow = ~0u, nearestAbove = ~0u, i = 0; i < 100000; ++i) {
        const std::string id = RandomInstallId(random);
        const std::uint32_t hash = vendor::MurmurHash2(id + "2.0.2.0");
        if (hash < bound && bound - hash < nearestBelow) nearestBelow = bound - hash, below = id;
        if (hash >= bound && hash - bound < nearestAbove) nearestAbove = hash - bound, above = id;
    }
    std::string upper = below;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    const std::vector<std::string> specials = {below, above, "", upper, below.substr(0, 31)};
    const std::string key = std::string(" --signing-key ") + TEST_SIGNING_KEY +
                            " --signed-records " + (place.Path() / "records").string();
    const struct {
        const char* rollout;
        const char* offers;  // of the specials: current or previous
    } cases[] = {{"33.33%", "cpppp"}, {"0%", "ppppp"}, {"100%", "ccccc"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rollout);
        WriteRollout(release, c.rollout);
        const int port = FreePort();
        const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
        const fs::path nginxFolder = place.Path() / ("nginx-" + std::string(c.offers));
        fs::create_directories(nginxFolder);
        ASSERT_EQ(Export(release, out,
                         key + " --public-url " + base + " --listen " + std::to_string(port)),
                  0);
        EXPECT_EQ(ReadBytes(out / "nginx-server.conf").find("split_clients") != std::string::npos,
                  c.rollout == std::string("33.33%"));
        Nginx nginx(nginxFolder, out / "nginx-server.conf");
        ASSERT_TRUE(nginx.Started()) << ReadBytes(nginxFolder / "error.log");
        ServerProcess server({"--listen", "127.0.0.1:0", "--public-url", base, "--signing-key",
                              TEST_SIGNING_KEY, "--signed-records",
                              (place.Path() / "records").string(), release.string()});
        ASSERT_TRUE(server.WaitUntilListening()) << server.Errors();
        const auto offer = [](int at, const std::string& id) {
            return Get(at, "/freeUpdate/update.asp?action=Auto", IdHeader(id)).body;
        };
        int in = 0;
        for (const std::string& id : ids) {
            const std::string ours = offer(server.Port(), id);
            EXPECT_EQ(offer(port, id), ours) << id;
            in += ours.starts_with("#2.0.2.0#");
        }
        for (size_t i = 0; i < specials.size(); ++i) {
            SCOPED_TRACE("id " + specials[i]);
            const std::string theirs = offer(port, specials[i]);
            EXPECT_EQ(theirs, offer(server.Port(), specials[i]));
            EXPECT_TRUE(theirs.starts_with(c.offers[i] == 'c' ? "#2.0.2.0#" : "#2.0.1.5#"))
                << theirs;
        }
        if (c.rollout == std::string("33.33%")) {
            EXPECT_GT(in, 75) << "of 300";
            EXPECT_LT(in, 125) << "of 300";
            EXPECT_TRUE(Get(port, "/download/2.0.1.5/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe").body ==
                        ReadBytes(Fixture("v2_0_1_5.exe")));
        }
    }
}
