#include "SignedRecord.h"

#include <string_view>
#include <vector>

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
    if (text.size() < 64) return false;
    for (size_t i = 0; i < 64; ++i) {
        const char c = text[i];
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (value < 0) return false;
        digest[i / 2] = static_cast<uint8_t>(digest[i / 2] << 4 | value);
    }
    text.remove_prefix(64);
    return true;
}

// A plain decimal: digits only, no leading zero (but "0"), within 64 bits.
bool TakeSize(std::string_view& text, uint64_t& size) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 19 || (digits > 1 && text[0] == '0')) return false;
    size = 0;
    for (size_t i = 0; i < digits; ++i) size = size * 10 + static_cast<uint64_t>(text[i] - '0');
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
