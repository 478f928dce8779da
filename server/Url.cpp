#include "Url.h"

#include <cstdio>

namespace vendor {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool MayStandInAddress(unsigned char c) {
    return IsUnreserved(c) || std::string_view(":/?#[]@!$&'()*+,;=%").find(static_cast<char>(c)) !=
                                  std::string_view::npos;
}

template <typename Keep>
std::string Encode(std::string_view text, Keep keep) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (keep(c)) {
            out += ch;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out;
}

}  // namespace

bool IsAbsoluteHttpUrl(std::string_view url) {
    size_t hostStart;
    if (url.starts_with("http://"))
        hostStart = 7;
    else if (url.starts_with("https://"))
        hostStart = 8;
    else
        return false;
    if (url.size() == hostStart || url[hostStart] == '/') return false;
    for (const char ch : url)
        if (static_cast<unsigned char>(ch) <= ' ' || ch == 0x7F) return false;
    return true;
}

bool IsPublicBaseUrl(std::string_view url) {
    if (!IsAbsoluteHttpUrl(url) || !url.ends_with('/')) return false;
    for (const char ch : url)
        if (!MayStandInAddress(static_cast<unsigned char>(ch)) || ch == '#' || ch == '?')
            return false;
    return true;
}

std::string EncodePathSegment(std::string_view segment) {
    return Encode(segment, IsUnreserved);
}

std::string EncodeAddress(std::string_view url) {
    return Encode(url, MayStandInAddress);
}

}  // namespace vendor
