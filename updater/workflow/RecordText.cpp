#include "RecordText.h"

namespace {
constexpr std::string_view kHexDigits = "0123456789abcdef";
}  // namespace

std::string ToHex(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 15];
    }
    return text;
}

std::string ToHex(std::span<const uint8_t> bytes) {
    return ToHex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool FromHex(std::string_view text, std::string& bytes) {
    if (text.empty() || text.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t at = 0; at < text.size(); at += 2) {
        const size_t high = kHexDigits.find(text[at]);
        const size_t low = kHexDigits.find(text[at + 1]);
        if (high == std::string_view::npos || low == std::string_view::npos) return false;
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

bool FromDecimal(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}
