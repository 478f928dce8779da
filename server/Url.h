// Addresses as installed updaters need them: plain ASCII, with everything else percent-encoded.
#pragma once

#include <string>
#include <string_view>

namespace vendor {

// "http://" or "https://", a host, and no blanks or control characters.
bool IsAbsoluteHttpUrl(std::string_view url);

// A public base address: absolute, ending in "/", ASCII, with no "#" (it would end the
// update record's address field) and no query.
bool IsPublicBaseUrl(std::string_view url);

// Encodes every byte of one path segment except the unreserved ones (RFC 3986).
std::string EncodePathSegment(std::string_view segment);

// Encodes what may not stand in an address as it is (bytes above 0x7F, blanks, controls,
// quotes, angle brackets...) and keeps its structure (":/?#&=%" and the like).
std::string EncodeAddress(std::string_view url);

}  // namespace vendor
