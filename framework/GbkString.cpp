#include "GbkString.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

GbkString GbkString::Mid(int first, int count) const {
    const int64_t length = GetLength();
    int64_t from = first < 0 ? 0 : first;
    int64_t take = count < 0 ? 0 : count;
    if (from > length) return {};
    if (from + take > length) take = length - from;
    return GbkString(m_bytes.substr(static_cast<size_t>(from), static_cast<size_t>(take)));
}

GbkString GbkString::Mid(int first) const {
    const int from = first < 0 ? 0 : first;
    return Mid(from, GetLength() - from);
}

int GbkString::Find(std::string_view part, int start) const {
    if (start < 0) start = 0;
    if (start > GetLength()) return -1;
    const size_t end = m_bytes.size();
    for (size_t at = static_cast<size_t>(start); at + part.size() <= end;) {
        if (std::string_view(m_bytes).substr(at, part.size()) == part) return static_cast<int>(at);
        const bool doubleByte =
            IsGbkLeadByte(static_cast<unsigned char>(m_bytes[at])) && at + 1 < end;
        at += doubleByte ? 2 : 1;
    }
    return -1;
}

void GbkString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        m_bytes.clear();
        return;
    }
    std::string out(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, again);
    va_end(again);
    out.resize(static_cast<size_t>(needed));
    m_bytes = std::move(out);
}
