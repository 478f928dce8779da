// Download addresses and ETags name one set of bytes: two programs of the same version and
// size published within one second, or copied keeping their time, never share either, not
// after a restart, nor with an address book written by servers before digests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <sstream>

#include "ServerProcess.h"

using namespace testing_vendor;

namespace {

const std::string kName = "Tanvik体验版.exe";

// The fixture of version 2.0.1.5 followed by 64 KiB of `fill`: same version, same size.
std::string Variant(char fill) {
    return ReadBytes(Fixture("v2_0_1_5.exe")) + std::string(64 << 10, fill);
}

void Stamp(const fs::path& file, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

class SameVersionAndSize : public testing::Test {
protected:
    static constexpr time_t kTime = 1700000000;

    // Puts `bytes` into the release folder by a rename, dated kTime and `nanoseconds`.
    void Place(const std::string& bytes, long nanoseconds) {
        WriteBytes(m_place.Path() / "next.exe", bytes);
        Publish(m_release, m_place.Path() / "next.exe");
        Stamp(m_release / kName, kTime, nanoseconds);
    }
    void Start() {
        m_server.reset();
        m_server = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--listen", "127.0.0.1:0", "--poll", "3600", "--store",
                                     m_store.string(), m_release.string()});
        ASSERT_TRUE(m_server->WaitUntilListening()) << m_server->Errors();
    }
    // The download address the record names now ("/download/...").
    std::string Offered() {
        const std::string record = Get(m_server->Port(), "/freeUpdate/update.asp?action=Auto").body;
        const size_t from = record.find("download/");
        std::string path = "/";  // built by appending: GCC 12 warns of "/" + a substring
        if (from != std::string::npos) path.append(record, from, record.size() - 1 - from);
        return path;
    }
    // SIGHUP, then the address offered once it is no longer `before` (bounded).
    std::string Reload(const std::string& before) {
        ::kill(m_server->Pid(), SIGHUP);
        std::string now = Offered();
        for (int i = 0; i < 100 && now == before; ++i, usleep(30000)) now = Offered();
        return now;
    }
    std::string Etag(const std::string& path) {
        return Get(m_server->Port(), path, "", "HEAD").Header("ETag");
    }

    TempFolder m_place;
    fs::path m_release = m_place.Path() / "release";
    fs::path m_store = m_place.Path() / "store";
    std::unique_ptr<ServerProcess> m_server;
    const std::string m_first = Variant('a'), m_second = Variant('b');
};

}  // namespace

TEST_F(SameVersionAndSize, OtherBytesGetAnotherAddressAndETagAndAResumeStartsAgain) {
    const struct {
        const char* name;
        long firstNs, secondNs;
    } cases[] = {{"published within one second", 100, 900000000},
                 {"copied keeping the time", 5, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_release);
        fs::remove_all(m_store);
        WriteRelease(m_release, Fixture("v2_0_1_5.exe"));
        Place(m_first, c.firstNs);
        Start();
        const std::string first = Offered(), firstEtag = Etag(first);
        Place(m_second, c.secondNs);
        const std::string second = Reload(first), secondEtag = Etag(second);
        ASSERT_NE(second, first);
        EXPECT_NE(secondEtag, firstEtag);
        // A part of the first bytes, resumed: from the first address as it was, from the new
        // one whole.
        const std::string resume = "Range: bytes=100-\r\nIf-Range: " + firstEtag + "\r\n";
        const Response old = Get(m_server->Port(), first, resume);
        EXPECT_EQ(old.status, 206);
        EXPECT_TRUE(old.body == m_first.substr(100));
        const Response fresh = Get(m_server->Port(), second, resume);
        EXPECT_EQ(fresh.status, 200);
        EXPECT_TRUE(fresh.body == m_second);

        // After a restart each address and ETag still name the same bytes.
        Start();
        EXPECT_EQ(Offered(), second);
        EXPECT_EQ(Etag(second), secondEtag);
        EXPECT_TRUE(Get(m_server->Port(), second).body == m_second);
        Place(m_first, c.firstNs);
        EXPECT_EQ(Reload(second), first);
        EXPECT_EQ(Etag(first), firstEtag);
        EXPECT_TRUE(Get(m_server->Port(), first).body == m_first);
    }
}

// A book line of the form before digests (version, size and time) holds for the bytes that
// match it, and is rewritten once in the form of today; it keeps other bytes out.
TEST_F(SameVersionAndSize, AnOlderAddressBookHoldsForTheSameVersionSizeAndTime) {
    const std::string plain = "/download/2.0.1.5/Tanvik%E4%BD%93%E9%AA%8C%E7%89%88.exe";
    const struct {
        const char* name;
        std::uint64_t size;
        bool plainKept;
    } cases[] = {{"the same size and time", m_first.size(), true},
                 {"another size", m_first.size() + 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_release);
        fs::remove_all(m_store);
        WriteRelease(m_release, Fixture("v2_0_1_5.exe"));
        Place(m_first, 0);
        std::ostringstream older;
        older << "\"2.0.1.5-" << std::hex << c.size << '-' << kTime << "\"\t2.0.1.5/" << kName
              << "\n";
        fs::create_directories(m_store);
        WriteBytes(m_store / "addresses.txt", older.str());
        Start();
        const std::string offered = Offered();
        EXPECT_EQ(offered == plain, c.plainKept) << offered;
        EXPECT_TRUE(Get(m_server->Port(), offered).body == m_first);
        const std::string book = ReadBytes(m_store / "addresses.txt");
        EXPECT_EQ(book.find(older.str()) == std::string::npos, c.plainKept) << book;
        EXPECT_NE(book.find(Etag(offered) + "\t"), std::string::npos) << book;
    }
}
