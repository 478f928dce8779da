// A staged rollout as update-server answers it: each installation, by the id its updater sends,
// is offered the release, the previous release, or nothing; a change of share is taken from the
// next request on; the previous release survives a restart, signed as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <memory>

#include "Rollout.h"
#include "ServerProcess.h"

using namespace testing_vendor;

namespace {

const std::string kList = "/freeUpdate/update.asp?action=Auto";
const std::string kName = "/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";
const std::string kPublic = "http://updates.example.com/";  // the same after a restart

// An id that the share puts in (or out) for 2.0.2.0.
std::string IdThatIs(bool in, unsigned share, std::mt19937_64& random) {
    std::string id = RandomInstallId(random);
    while (vendor::InRollout(share, id.c_str(), "2.0.2.0") != in) id = RandomInstallId(random);
    return id;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class Rollout : public testing::Test {
protected:
    void Start(const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments{
            "--listen",         "127.0.0.1:0",
            "--public-url",     kPublic,
            "--poll",           "3600",
            "--store",          m_store.string(),
            "--signed-records", (m_place.Path() / "records").string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(m_release.string());
        m_server.reset();
        m_server = std::make_unique<ServerProcess>(arguments);
        ASSERT_TRUE(m_server->WaitUntilListening()) << m_server->Errors();
    }
    std::string Offer(const std::string& id) {
        return Get(m_server->Port(), kList, IdHeader(id)).body;
    }
    // Rewrites the folder, and waits (bounded) until the server has taken it after a SIGHUP.
    bool Change(const std::string& rollout, bool withPrevious) {
        const size_t before = Count(m_server->Errors(), "now serving");
        WriteRollout(m_release, rollout, withPrevious);
        ::kill(m_server->Pid(), SIGHUP);
        for (int i = 0; i < 200 && Count(m_server->Errors(), "now serving") == before; ++i)
            usleep(20000);
        return Count(m_server->Errors(), "now serving") > before;
    }
    static std::string Record(const std::string& version) {
        return "#" + version + "#" + kPublic + "download/" + version + kName + "#";
    }

    TempFolder m_place;
    fs::path m_release = m_place.Path() / "release";
    fs::path m_store = m_place.Path() / "store";
    std::unique_ptr<ServerProcess> m_server;
    std::mt19937_64 m_random{28};
};

}  // namespace

// Changed one after another by SIGHUP: each takes effect at the next request. The id is never
// logged nor a label of the metrics.
TEST_F(Rollout, EachInstallationIsOfferedTheReleaseThePreviousOneOrNothing) {
    const std::string in = IdThatIs(true, 5000, m_random), out = IdThatIs(false, 5000, m_random);
    std::string upper = in;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    std::string nonHex = in;
    nonHex[0] = 'g';
    const std::string ids[] = {in, out, "", upper, in.substr(1), in + "0", nonHex};
    const struct {
        const char* rollout;
        bool withPrevious;
        const char* offers;  // for each id: current, previous or nothing
    } cases[] = {
        {"50%", true, "cpppppp"}, {"0%", true, "ppppppp"},   {"100%", true, "ccccccc"},
        {"", true, "ccccccc"},    {"50%", false, "cnnnnnn"}, {"0%", false, "nnnnnnn"},
    };
    WriteRollout(m_release, cases[0].rollout);
    const fs::path log = m_place.Path() / "access.log";
    Start({"--metrics-listen", "127.0.0.1:0", "--access-log", log.string()});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rollout) + (c.withPrevious ? " with previous" : ""));
        if (&c != cases) {
            ASSERT_TRUE(Change(c.rollout, c.withPrevious)) << m_server->Errors();
        }
        for (size_t i = 0; i < std::size(ids); ++i) {
            SCOPED_TRACE("id " + ids[i]);
            const char expected = c.offers[i];
            EXPECT_EQ(Offer(ids[i]), expected == 'c'   ? Record("2.0.2.0")
                                     : expected == 'p' ? Record("2.0.1.5")
                                                       : "");
        }
    }
    EXPECT_TRUE(Get(m_server->Port(), "/download/2.0.1.5" + kName).body ==
                ReadBytes(Fixture("v2_0_1_5.exe")));
    const std::string page = Get(MetricsPort(*m_server), "/metrics").body;
    for (const char* line : {"update_server_offers_total{rollout=\"in\",version=\"2.0.2.0\"} 16\n",
                             "update_server_offers_total{rollout=\"out\",version=\"2.0.1.5\"} 13\n",
                             "update_server_offers_total{rollout=\"out\",version=\"none\"} 13\n"})
        EXPECT_NE(page.find(line), std::string::npos) << line << page;
    EXPECT_NE(m_server->Errors().find("to 50% of installations, 2.0.1.5 to the others"),
              std::string::npos);
    EXPECT_EQ(m_server->Stop(), 0);
    for (const std::string& text : {page, ReadBytes(log), m_server->Errors()})
        EXPECT_EQ(text.find(in.substr(0, 12)), std::string::npos) << text;
}

// The record of the release last offered to everybody is the one the others get: the same
// address and signature, after restarts too.
TEST_F(Rollout, ThePreviousReleaseSurvivesARestartSignedAsItWas) {
    const std::string in = IdThatIs(true, 5000, m_random), out = IdThatIs(false, 5000, m_random);
    WriteRelease(m_release, Fixture("v2_0_1_5.exe"));
    Start({"--signing-key", TEST_SIGNING_KEY});
    const std::string before = Offer(out);
    ASSERT_TRUE(before.starts_with(Record("2.0.1.5") + "sha256=")) << before;
    m_server.reset();
    WriteRollout(m_release, "50%");
    std::string current;
    for (int restart = 0; restart < 2; ++restart) {
        SCOPED_TRACE(restart);
        Start({"--signing-key", TEST_SIGNING_KEY});
        EXPECT_EQ(Offer(out), before);
        EXPECT_EQ(Offer(""), before);
        EXPECT_TRUE(Offer(in).starts_with(Record("2.0.2.0") + "sha256=")) << Offer(in);
        if (restart) {
            EXPECT_EQ(Offer(in), current);
        }
        current = Offer(in);
        EXPECT_TRUE(Get(m_server->Port(), "/download/2.0.1.5" + kName).body ==
                    ReadBytes(Fixture("v2_0_1_5.exe")));
    }
}
