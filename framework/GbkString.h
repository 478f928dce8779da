// A byte string holding GBK (code page 936) text, with the few operations the updater needs.
// Positions and lengths count bytes; comparisons are exact byte comparisons.
#pragma once

#include <string>
#include <string_view>

class GbkString {
public:
    GbkString() = default;
    GbkString(const char* text) : m_bytes(text ? text : "") {}   // NOLINT: converts like a literal
    GbkString(std::string bytes) : m_bytes(std::move(bytes)) {}  // NOLINT
    GbkString(std::string_view bytes) : m_bytes(bytes) {}        // NOLINT

    int GetLength() const { return static_cast<int>(m_bytes.size()); }
    bool IsEmpty() const { return m_bytes.empty(); }
    const char* c_str() const { return m_bytes.c_str(); }
    const std::string& Bytes() const { return m_bytes; }
    void Empty() { m_bytes.clear(); }

    // The count bytes from first on. A negative first counts as 0, a negative count gives
    // nothing, and a range that runs past the end stops at the end.
    GbkString Mid(int first, int count) const;
    GbkString Mid(int first) const;

    // Byte position of the first occurrence of part at or after start, or -1. The search
    // walks whole characters, so it never matches from the second byte of a double-byte
    // character (as _mbsstr does for code page 936).
    int Find(std::string_view part, int start = 0) const;
    int Find(char ch, int start = 0) const { return Find(std::string_view(&ch, 1), start); }

    // printf-style formatting into this string.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

    GbkString& operator+=(const GbkString& other) {
        m_bytes += other.m_bytes;
        return *this;
    }
    GbkString& operator+=(const char* other) {
        m_bytes += other;
        return *this;
    }
    friend GbkString operator+(GbkString left, const GbkString& right) { return left += right; }
    friend GbkString operator+(GbkString left, const char* right) { return left += right; }
    friend GbkString operator+(const char* left, const GbkString& right) {
        return GbkString(left) += right;
    }
    friend bool operator==(const GbkString& a, const GbkString& b) {
        return a.m_bytes == b.m_bytes;
    }
    friend bool operator==(const GbkString& a, const char* b) { return a.m_bytes == b; }

private:
    std::string m_bytes;
};

// True for a byte that starts a double-byte character in code page 936.
inline bool IsGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}
