// How our records and command lines write bytes and sizes: bytes as lowercase hex, two digits
// a byte, and sizes as plain decimals. Reading is strict, so that a value reads back only in
// the one spelling it was written in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

std::string ToHex(std::string_view bytes);
std::string ToHex(std::span<const uint8_t> bytes);
// False unless text is a non-empty, even run of lowercase hex digits.
bool FromHex(std::string_view text, std::string& bytes);
// False unless text is digits only, without a leading zero (but "0"), within 64 bits.
bool FromDecimal(std::string_view text, uint64_t& value);
