// What the workflow reads and computes, as tables: replies, records, versions, figures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DownloadMeter.h"
#include "ServerProtocol.h"
#include "VersionOrder.h"

TEST(Reply, LinesAreJoinedWithoutTheirBreaks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"true\r\n", "true"},
        {"a\r\nb\nc", "abc"},
        {"", ""},
        {"\r\n\r\n", ""},
        {"x\ry\r\n", "x\ry"},  // a lone CR is part of its line
        {"http://h/p?a=1\r\n", "http://h/p?a=1"},
    };
    for (const auto& [body, reply] : cases) EXPECT_EQ(JoinReplyLines(body).Bytes(), reply) << body;
}

TEST(Reply, RecordFieldsAreCutByTheFirstThreeHashes) {
    struct Case {
        const char* reply;
        const char* version;
        const char* address;
    };
    const Case cases[] = {
        {"#2.0.1.5#http://h/new.exe#", "2.0.1.5", "http://h/new.exe"},
        {"no hashes at all", "", ""},
        {"#1.2#only two", "1.2", ""},
        {"before#1.0.0.2#addr#after#more", "1.0.0.2", "addr"},
        {"# 1.0 #  a b #", " 1.0 ", "  a b "},
        {"##addr#", "", "addr"},
        {"#版本2.0#地址#", "版本2.0", "地址"},
    };
    for (const Case& c : cases) {
        const UpdateRecord record = CutUpdateRecord(c.reply);
        EXPECT_EQ(record.version.Bytes(), c.version) << c.reply;
        EXPECT_EQ(record.address.Bytes(), c.address) << c.reply;
    }
}

TEST(Versions, PartsCompareAsNumbersFromTheLeft) {
    struct Case {
        const char* installed;
        const char* offered;
        bool newer;
    };
    const Case cases[] = {
        {"1.0.0.1", "1.0.0.2", true},
        {"1.0.0.2", "1.0.0.2", false},
        {"1.0.0.2", "1.0.0.1", false},
        {"1.0.10", "1.1.0", true},
        {"2.0", "1.9.9", false},
        {"1.9.9", "2.0", true},
        {"1.0", "1.0.0.0", false},  // a missing part counts as 0
        {"1.0", "1.0.0.1", true},
        {"1.0.0.1", "10", false},  // no "." on one side: never newer
        {"", "2.0", false},
        {"1.0", "", false},
        {"1.007", "1.7", false},  // leading zeros do not count
        {"1. 2", "1.3", true},    // leading blanks are skipped
        {"1.2x", "1.3", true},    // only the leading digits count
        {"1.x", "1.0", false},    // no digits: 0
        {"1.999999999999999999999999999998", "1.999999999999999999999999999999", true},
        {"1.999999999999999999999999999999", "1.1000000000000000000000000000000", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsNewerVersion(c.installed, c.offered) != FALSE, c.newer)
            << c.installed << " -> " << c.offered;
}

TEST(Figures, PercentagesAndLabelsFollowTheChunks) {
    DownloadMeter meter(10000);
    std::vector<int> percents;
    DownloadFigures last;
    for (DWORD chunk : {4000u, 4000u, 2000u}) {
        last = meter.AddChunk(chunk, 500);
        percents.push_back(last.percent);
    }
    EXPECT_EQ(percents, (std::vector<int>{40, 80, 100}));
    EXPECT_EQ(last.sizeLabel.Bytes(), "9KB");
    EXPECT_EQ(last.percentLabel.Bytes(), "100%");
    EXPECT_EQ(last.speedLabel.Bytes(), "19.5KB");  // 10,000 bytes over 0.5 s

    DownloadMeter first(1 << 20);
    EXPECT_EQ(first.AddChunk(16384, 3).speedLabel.Bytes(), "1600.0KB");  // over the fixed 10 ms
    // A byte a second: the second byte's speed is over the two seconds it took, not over the
    // moment between the start and the first byte.
    DownloadMeter trickle(1 << 20);
    trickle.AddChunk(1, 2);
    EXPECT_EQ(trickle.AddChunk(1, 2000).speedLabel.Bytes(), " 0.0KB");
    DownloadMeter resumed(1 << 20);
    resumed.Resume(1 << 19);
    EXPECT_EQ(resumed.Figures(0).percentLabel.Bytes(), "50%");
    EXPECT_EQ(resumed.Figures(0).speedLabel.Bytes(), " 0.0KB");

    DownloadMeter unknown(0);
    const DownloadFigures figures = unknown.AddChunk(5000, 10);
    EXPECT_EQ(figures.percent, 0);
    EXPECT_EQ(figures.sizeLabel.Bytes(), "0KB");

    DownloadMeter huge(5ull << 30);  // past 32 bits: no overflow in the product
    huge.AddChunk(0xFFFFFFFFu, 10);
    EXPECT_EQ(huge.AddChunk(0xFFFFFFFFu, 20).percent, 159);
}
