// Conversions between the programs' GBK texts and the UTF-16 of the wide Win32 calls.
// Always code page 936, whatever the system's ANSI code page is.
#pragma once

#include <string>
#include <string_view>

#include "GbkString.h"

constexpr unsigned kGbkCodePage = 936;

std::wstring ToWide(std::string_view gbk);
inline std::wstring ToWide(const GbkString& gbk) {
    return ToWide(std::string_view(gbk.Bytes()));
}
GbkString ToGbk(std::wstring_view wide);
