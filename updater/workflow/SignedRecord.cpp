#include "SignedRecord.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "RecordText.h"
#include "ReleaseSignature.h"
#include "ServerProtocol.h"

namespace {

// Takes prefix off the front of text; false when text does not start with it.
bool Take(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool TakeDigest(std::string_view& text, std::array<uint8_t, 32>& digest) {
    std::string bytes;
    if (text.size() < 64 || !FromHex(text.substr(0, 64), bytes)) return false;
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    text.remove_prefix(64);
    return true;
}

bool TakeSize(std::string_view& text, uint64_t& size) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (!FromDecimal(text.substr(0, digits), size)) return false;
    text.remove_prefix(digits);
    return true;
}

}  // namespace

bool ParseSignedRecord(const GbkString& reply, SignedRecord& record) {
    const std::string& bytes = reply.Bytes();
    const int first = reply.Find('#');
    const int second = reply.Find('#', first + 1);
    const int third = reply.Find('#', second + 1);
    if (first < 0 || second < 0 || third < 0) return false;
    const UpdateRecord fields = CutUpdateRecord(reply);

    std::string_view rest = std::string_view(bytes).substr(static_cast<size_t>(third) + 1);
    std::array<uint8_t, 32> digest{};
    uint64_t size = 0;
    if (!Take(rest, "sha256=") || !TakeDigest(rest, digest) || !Take(rest, ";size=") ||
        !TakeSize(rest, size) || !Take(rest, ";"))
        return false;
    const size_t signedEnd = bytes.size() - rest.size();
    std::vector<uint8_t> signature;
    if (!Take(rest, "sig=") || !DecodeBase64(rest, signature) || signature.size() != 64)
        return false;

    record.version = fields.version;
    record.address = fields.address;
    record.digest = digest;
    record.size = size;
    std::copy(signature.begin(), signature.end(), record.signature.begin());
    record.signedBytes = bytes.substr(static_cast<size_t>(first), signedEnd - first);
    return true;
}
