#include "HeadScanner.h"

#include <cctype>
#include <string_view>

namespace vendor {

namespace {

constexpr std::size_t kNameBytes = 20;  // enough for "transfer-encoding:"
constexpr std::string_view kVersionStart = " HTTP/";

}  // namespace

void HeadScanner::Feed(char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size && !m_body && !m_folded; ++i) {
        if (m_requestLine) CheckVersion(bytes[i]);
        const char c = bytes[i];
        if (c == '\n') {
            EndLine();
            continue;
        }
        if (c == '\r') continue;
        if (m_lineStart && !m_requestLine && (c == ' ' || c == '\t')) m_folded = true;
        m_lineStart = false;
        if (m_requestLine) {
            m_tail += c;
            if (m_tail.size() > kVersionStart.size()) m_tail.erase(0, 1);
        }
        if (m_line.size() < kNameBytes)
            m_line += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
}

// The digit after " HTTP/" in a request line is the major version.
void HeadScanner::CheckVersion(char& c) {
    if (m_tail != kVersionStart || c < '2' || c > '9') return;
    m_unsupportedVersion = true;
    c = '1';
}

// An empty line ends a head; the next line starts the next request, unless this one has a
// body, whose bytes are not looked at.
void HeadScanner::EndLine() {
    if (m_lineStart) {
        if (!m_requestLine) m_requestLine = true;  // blank lines before a request are allowed
    } else if (m_requestLine) {
        m_requestLine = false;
    } else if (m_line.starts_with("content-length:") || m_line.starts_with("transfer-encoding:")) {
        m_body = true;
    }
    m_line.clear();
    m_tail.clear();
    m_lineStart = true;
}

}  // namespace vendor
