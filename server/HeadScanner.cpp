#include "HeadScanner.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace vendor {

namespace {

// Longer lines are refused by the library anyway; the request line is kept for the access log.
constexpr std::size_t kLineCap = 16384;
constexpr std::string_view kVersionStart = "HTTP/";
constexpr std::size_t kVersionDigits = 3;  // nginx's bound: HTTP/999.999

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsMethodName(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
    });
}

int Number(std::string_view digits) {
    int value = 0;
    for (const char c : digits) value = value * 10 + (c - '0');
    return value;
}

// A number the library reads as 1, of the same length: "0001".
std::string One(std::size_t length) {
    return std::string(length - 1, '0') + "1";
}

}  // namespace

std::string ScannedHead::Version() const {
    return "HTTP/" + std::to_string(major) + "." + std::to_string(minor);
}

void HeadScanner::Feed(const char* bytes, std::size_t size) {
    const std::uint64_t start = m_fed;
    for (std::size_t i = 0; i < size && !m_stopped; ++i) {
        m_fed = start + i;
        const char c = bytes[i];
        if (c == '\n') {
            EndLine();
            continue;
        }
        if (c == '\0') m_nul = true;
        if (m_lineStart && !m_requestLine && (c == ' ' || c == '\t')) Refuse(400);  // folded
        if (m_lineStart) m_lineOffset = m_fed;
        m_lineStart = false;
        if (m_line.size() < kLineCap) m_line += c;
    }
    m_fed = start + size;
}

void HeadScanner::Next() {
    if (m_heads.size() > 1)
        m_heads.pop_front();
    else
        m_heads.front() = {};
}

void HeadScanner::EndLine() {
    if (!m_line.empty() && m_line.back() == '\r') m_line.pop_back();
    const bool empty = m_lineStart || m_line.empty();
    if (m_requestLine) {
        // Blank lines before a request are allowed.
        if (!empty) ReadRequestLine();
    } else if (empty) {
        EndHead();
    } else {
        ReadHeaderLine();
    }
    if (m_nul) Refuse(400);
    m_line.clear();
    m_lineStart = true;
}

// METHOD SP TARGET SP HTTP/MAJOR.MINOR
void HeadScanner::ReadRequestLine() {
    m_requestLine = false;
    ScannedHead& head = Reading();
    const std::string_view line = m_line;
    head.line = m_line;
    const std::size_t first = line.find(' '), last = line.rfind(' ');
    head.method = line.substr(0, first);
    if (first == std::string_view::npos || first == last) {
        head.target = first == std::string_view::npos ? "" : line.substr(first + 1);
        return Refuse(400);
    }
    head.target = line.substr(first + 1, last - first - 1);
    if (!IsMethodName(head.method)) return Refuse(400);
    const std::string_view version = line.substr(last + 1);
    const std::size_t dot = version.find('.');
    if (!version.starts_with(kVersionStart) || dot == std::string_view::npos) return Refuse(400);
    const std::string_view major = version.substr(kVersionStart.size(), dot - kVersionStart.size());
    const std::string_view minor = version.substr(dot + 1);
    if (!AllDigits(major) || !AllDigits(minor) || major.size() > kVersionDigits ||
        minor.size() > kVersionDigits)
        return Refuse(400);
    head.major = Number(major);
    head.minor = Number(minor);
    if (head.major == 1 && head.minor <= 1) return;
    // Any other: the library is shown 1.1, and answers in it.
    if (m_line.size() < kLineCap)
        m_patches.push_back({m_lineOffset + last + 1 + kVersionStart.size(),
                             One(major.size()) + "." + One(minor.size())});
    if (head.major != 1) Refuse(head.major == 0 ? 400 : 505);
}

void HeadScanner::ReadHeaderLine() {
    const std::size_t colon = m_line.find(':');
    if (colon == std::string::npos) return;  // the library refuses it
    const std::string name = Lower(std::string_view(m_line).substr(0, colon));
    const std::string_view value = Trimmed(std::string_view(m_line).substr(colon + 1));
    if (name == "content-length") {
        ++m_lengths;
        if (!AllDigits(value) || m_line.size() >= kLineCap) return Refuse(400);
        if (value.find_first_not_of('0') != std::string_view::npos) Reading().body = true;
    } else if (name == "transfer-encoding") {
        m_hasTransferEncoding = true;
        m_transferEncoding = Lower(value);
        // The library would wait for a body it half understands ("gzip, chunked"): the header
        // is renamed before it reads it, and the head is refused.
        if (m_transferEncoding != "chunked") m_patches.push_back({m_lineOffset, "X"});
    }
}

// nginx's checks of a whole head, in its order.
void HeadScanner::EndHead() {
    ScannedHead& head = Reading();
    head.whole = true;
    if (m_hasTransferEncoding) {
        if (!head.Http11() || m_lengths > 0) Refuse(400);
        if (m_transferEncoding != "chunked") Refuse(501);
        head.body = true;
    }
    if (head.body && (head.method == "GET" || head.method == "HEAD")) Refuse(400);
    m_stopped = m_stopped || head.body;
    m_requestLine = true;
    m_lengths = 0;
    m_hasTransferEncoding = false;
    m_transferEncoding.clear();
    if (!m_stopped) m_heads.emplace_back();
}

// The first fault of a head is its answer; the connection ends with it, so nothing after it
// is read as a head.
void HeadScanner::Refuse(int status) {
    ScannedHead& head = Reading();
    if (head.fault == 0) head.fault = status;
    m_stopped = true;
}

}  // namespace vendor
