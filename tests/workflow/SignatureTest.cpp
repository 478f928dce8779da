// Signed records: what is read as one, and what the vendor's key accepts. The vector was made
// once with the OpenSSL command line (tests/signing/sign_record.py and the test key there).
#include <gtest/gtest.h>

#include <string>

#include "ReleaseSignature.h"
#include "SignedRecord.h"

namespace {
const char kTestKey[] =
    "/v6O61dneW8hLJaqEZvlOqpKSzqnaqo/qRSTkeKFI7VgDb2ZiF90IHv2+brDfcbAGhigyk3wtZZOjTvxu5vDhw==";
const char kOtherKey[] =
    "MKELLRp5/I/HxHhYF48meUhMi1C9nbThYEDrygTZoV26S6Ted2dLMyssdIGQ4pfy1+VQNQW/4xMCXAg7gSPIAw==";
const std::string kSigned =
    "#2.0.1.5#http://127.0.0.1/new.exe#"
    "sha256=86e25a968b643c4480c219f5281f3c49386815e2583f8bca77dde8bb5a442f0e;size=15;";
const std::string kSignature =
    "sig=eHzfLGaZhv5mOg3FSGxWqWGmrHkZ37Iw022aMwH9uFSjZdbDF1rT+0kBtfGUzN9PobK+kn0GGDBzxdHXfwG7WA==";

bool Verifies(const std::string& reply, const char* key = kTestKey) {
    SignedRecord record;
    ReleaseKey release;
    return ParseSignedRecord(reply, record) && release.Load(key) &&
           release.Verifies(record.signedBytes, record.signature);
}
}  // namespace

TEST(SignedRecord, TheVectorVerifiesAndNoSingleByteOfItMayChange) {
    SignedRecord record;
    ASSERT_TRUE(ParseSignedRecord(kSigned + kSignature, record));
    EXPECT_EQ(record.version.Bytes(), "2.0.1.5");
    EXPECT_EQ(record.address.Bytes(), "http://127.0.0.1/new.exe");
    EXPECT_EQ(record.size, 15u);
    EXPECT_EQ(record.digest[0], 0x86);
    EXPECT_EQ(record.signedBytes, kSigned);
    EXPECT_TRUE(Verifies(kSigned + kSignature));
    EXPECT_TRUE(Verifies("text before is not signed" + kSigned + kSignature));
    EXPECT_FALSE(Verifies(kSigned + kSignature, kOtherKey));

    int refused = 0;
    for (size_t i = 0; i < kSigned.size(); ++i) {
        std::string changed = kSigned;
        changed[i] = changed[i] == '1' ? '2' : '1';
        refused += Verifies(changed + kSignature) ? 0 : 1;
    }
    EXPECT_EQ(refused, static_cast<int>(kSigned.size()));
    std::string flipped = kSignature;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(Verifies(kSigned + flipped));
}

TEST(SignedRecord, OnlyTheFieldsInTheirOrderEachOnce) {
    const std::string digest = "86e25a968b643c4480c219f5281f3c49386815e2583f8bca77dde8bb5a442f0e";
    const std::string sig = kSignature.substr(4);
    const std::string head = "#2.0.1.5#http://h/new.exe#";
    const std::string refused[] = {
        head,                                                                     // unsigned
        "#2.0.1.5#http://h/new.exe",                                              // two fields only
        head + "size=15;sha256=" + digest + ";sig=" + sig,                        // reordered
        head + "sha256=" + digest + ";sha256=" + digest + ";size=15;sig=" + sig,  // twice
        head + "sha256=" + digest + ";size=15;sig=" + sig + ";size=15",           // after sig
        head + "sha256=" + digest + ";size=15;sig=" + sig + " ",
        head + "sha256=" + digest + ";size=15",                       // no sig
        head + "sha256=" + digest.substr(1) + ";size=15;sig=" + sig,  // short digest
        head +
            "sha256=86E25A968B643C4480C219F5281F3C49386815E2583F8BCA77DDE8BB5A442F0E;size=15;sig=" +
            sig,
        head + "sha256=" + digest + ";size=015;sig=" + sig,  // not a plain decimal
        head + "sha256=" + digest + ";size=+15;sig=" + sig,
        head + "sha256=" + digest + ";size=;sig=" + sig,
        head + "sha256=" + digest + ";size=99999999999999999999;sig=" + sig,      // past 64 bits
        head + "sha256=" + digest + ";size=15;sig=" + sig.substr(4),              // short sig
        head + "sha256=" + digest + ";size=15;sig=" + sig.substr(0, 86) + "A=",   // bad padding
        head + "sha256=" + digest + ";size=15;sig=" + sig.substr(0, 85) + "B==",  // stray bits
        head + "sha256=" + digest + ";size=15;sig=" + sig + sig,                  // oversized
    };
    for (const std::string& reply : refused) {
        SignedRecord record;
        EXPECT_FALSE(ParseSignedRecord(reply, record)) << reply;
    }
    SignedRecord record;
    EXPECT_TRUE(ParseSignedRecord(head + "sha256=" + digest + ";size=0;sig=" + sig, record));
}
