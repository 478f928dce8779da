// Patches as update-server serves them: made from the previous program when a release is
// published, at the address updaters derive from the record's (the download's folder, "from/"
// and the SHA-256 of the program they have), served like a download, the same after a restart;
// one not smaller than half of the program is not offered at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <random>

#include "AddressBook.h"
#include "ApplyPatch.h"
#include "ServerProcess.h"
#include "Sha256.h"

using namespace testing_vendor;

namespace {

const std::string kPublic = "http://updates.example.com/";

// The program `patch` makes of `old`; empty when it does not apply.
std::string Applied(const std::string& old, const std::string& patch) {
    std::string made;
    const auto bytes = [](const std::string& text) {
        return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    const PatchResult result =
        ApplyPatch(bytes(old), bytes(patch), [&](const uint8_t* data, size_t size) {
            made.append(reinterpret_cast<const char*>(data), size);
            return true;
        });
    return result == PatchResult::Applied ? made : std::string();
}

std::string Sha256Of(const std::string& bytes) {
    vendor::Sha256 digest;
    digest.Add(bytes.data(), bytes.size());
    return digest.Hex();
}

// Bytes that no patch can shrink.
std::string Noise(size_t size) {
    std::mt19937_64 random(29);
    std::string noise(size, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    return noise;
}

class PatchServing : public testing::Test {
protected:
    // 2.0.2.0 (with `extra` after it) published with 2.0.1.5 as its previous release.
    void Prepare(const std::string& extra, const std::string& book) {
        fs::remove_all(m_place.Path() / "release");
        fs::remove_all(m_store);
        fs::create_directories(m_store);
        WriteBytes(m_store / "addresses.txt", book);
        PlaceRelease(extra);
    }
    void PlaceRelease(const std::string& extra) {
        m_new = ReadBytes(Fixture("v2_0_2_0.exe")) + extra;
        WriteBytes(m_place.Path() / "new.exe", m_new);
        WriteRollout(m_release, "");
        WriteRelease(m_release, m_place.Path() / "new.exe", false, "Tanvik体验版.exe",
                     "previous = previous.exe\n");
    }
    void Start() {
        m_server.reset();
        m_server = std::make_unique<ServerProcess>(std::vector<std::string>{
            "--listen", "127.0.0.1:0", "--public-url", kPublic, "--poll", "3600", "--store",
            m_store.string(), "--metrics-listen", "127.0.0.1:0", m_release.string()});
        ASSERT_TRUE(m_server->WaitUntilListening()) << m_server->Errors();
    }
    // The patch's address as an updater that has `old` derives it from the record.
    std::string PatchAddress(const std::string& old) {
        const std::string record = Get(m_server->Port(), "/freeUpdate/update.asp?action=Auto").body;
        const size_t from = record.find("/download/"), to = record.rfind('/');
        if (from == std::string::npos) return {};
        return record.substr(from, to + 1 - from) + "from/" + Sha256Of(old);
    }

    TempFolder m_place;
    fs::path m_release = m_place.Path() / "release";
    fs::path m_store = m_place.Path() / "store";
    std::unique_ptr<ServerProcess> m_server;
    const std::string m_old = ReadBytes(Fixture("v2_0_1_5.exe"));
    std::string m_new;
};

}  // namespace

TEST_F(PatchServing, APatchIsServedAtTheDerivedAddressAndAfterARestartOnlyWhenSmallEnough) {
    const struct {
        const char* name;
        std::string extra;
        std::string book;  // the store's address book before the start
        bool tagged, offered;
    } cases[] = {
        {"a small change", "", "", false, true},
        // Other bytes had the plain address: the program and its patch get the tagged one.
        {"under a tagged address", "", "\"0123\"\t2.0.2.0/Tanvik体验版.exe\n", true, true},
        {"a change as large as half", Noise(300 << 10), "", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(c.extra, c.book);
        std::string first;
        for (int run = 0; run < 2; ++run) {  // the second after a restart
            Start();
            const std::string address = PatchAddress(m_old);
            std::string folder = "/download/2.0.2.0/";
            if (c.tagged) folder.append(Sha256Of(m_new), 0, 16).append("/");
            ASSERT_EQ(address, folder + "from/" + Sha256Of(m_old));
            const Response patch = Get(m_server->Port(), address);
            EXPECT_EQ(patch.status, c.offered ? 200 : 404);
            EXPECT_NE(m_server->Errors().find(c.offered ? "update-server: patch from 2.0.1.5: "
                                                        : "no patch from 2.0.1.5: the patch ("),
                      std::string::npos)
                << m_server->Errors();
            // The whole program is served either way.
            EXPECT_TRUE(
                Get(m_server->Port(), folder + "Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe").body ==
                m_new);
            if (!c.offered) continue;
            EXPECT_TRUE(Applied(m_old, patch.body) == m_new);
            EXPECT_LT(patch.body.size() * 2, m_new.size());
            EXPECT_EQ(patch.Header("Content-Length"), std::to_string(patch.body.size()));
            EXPECT_EQ(patch.Header("Content-Type"), "application/octet-stream");
            EXPECT_EQ(patch.Header("ETag"), vendor::DigestEtag(Sha256Of(patch.body)));
            const Response rest =
                Get(m_server->Port(), address,
                    "Range: bytes=10-\r\nIf-Range: " + patch.Header("ETag") + "\r\n");
            EXPECT_EQ(rest.status, 206);
            EXPECT_TRUE(rest.body == patch.body.substr(10));
            if (run == 1) {
                EXPECT_TRUE(patch.body == first);
            }
            first = patch.body;
            EXPECT_NE(ReadBytes(m_store / "addresses.txt")
                          .find(patch.Header("ETag") + "\t" + address.substr(10) + "\n"),
                      std::string::npos);
            // Only the program that was offered before has a patch.
            for (const std::string& other : {PatchAddress(m_new), PatchAddress("other")})
                EXPECT_EQ(Get(m_server->Port(), other).status, 404) << other;
            const std::string page = Get(MetricsPort(*m_server), "/metrics").body;
            EXPECT_NE(
                page.find("update_server_requests_total{endpoint=\"patch\",status=\"206\"} 1\n"),
                std::string::npos)
                << page;
        }
    }
}

// Published while the server runs (taken at a SIGHUP here), on the thread that checks releases.
TEST_F(PatchServing, AReleasePublishedWhileServingBringsItsPatch) {
    WriteRelease(m_release, Fixture("v2_0_1_5.exe"));
    Start();
    EXPECT_EQ(Get(m_server->Port(), PatchAddress(m_old)).status, 404);
    PlaceRelease("");
    ::kill(m_server->Pid(), SIGHUP);
    for (int i = 0; i < 200 && m_server->Errors().find("now serving") == std::string::npos; ++i)
        usleep(20000);
    EXPECT_NE(m_server->Errors().find("now serving 2.0.2.0"), std::string::npos);
    EXPECT_NE(m_server->Errors().find("; patch from 2.0.1.5: "), std::string::npos)
        << m_server->Errors();
    EXPECT_TRUE(Applied(m_old, Get(m_server->Port(), PatchAddress(m_old)).body) == m_new);
}
