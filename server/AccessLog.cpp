#include "AccessLog.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>

#include "HeadScanner.h"

namespace vendor {

namespace {

// Quotes and backslashes escaped, controls and bytes above 0x7E as \xHH, as nginx writes them.
std::string Escaped(const char* text) {
    if (text == nullptr || *text == '\0') return "-";
    std::string out;
    for (const unsigned char c : std::string_view(text)) {
        if (c == '"' || c == '\\' || c < 0x20 || c > 0x7E) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

AccessLog::~AccessLog() {
    if (m_out && m_out != stdout) std::fclose(m_out);
}

bool AccessLog::Open(const std::string& target, std::string& error) {
    std::FILE* out = target == "-" ? stdout : std::fopen(target.c_str(), "ae");
    if (out == nullptr) {
        error = "cannot open the access log " + target + ": " + std::strerror(errno);
        return false;
    }
    if (m_out && m_out != stdout) std::fclose(m_out);
    m_out = out;
    m_target = target;
    return true;
}

void AccessLog::Write(const std::string& peer, const ScannedHead& head, const char* referer,
                      const char* agent, int status, unsigned long long bodyBytes) {
    if (m_out == nullptr) return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char when[40];
    std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &local);
    std::fprintf(m_out, "%s - - [%s] \"%s\" %d %llu \"%s\" \"%s\"\n", peer.c_str(), when,
                 Escaped(head.line.c_str()).c_str(), status, bodyBytes, Escaped(referer).c_str(),
                 Escaped(agent).c_str());
}

void AccessLog::Flush() {
    if (m_out) std::fflush(m_out);
}

}  // namespace vendor
