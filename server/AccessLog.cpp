#include "AccessLog.h"

#include <event2/http.h>
#include <event2/http_struct.h>
#include <event2/keyvalq_struct.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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

const char* MethodName(evhttp_cmd_type method) {
    switch (method) {
        case EVHTTP_REQ_GET:
            return "GET";
        case EVHTTP_REQ_HEAD:
            return "HEAD";
        case EVHTTP_REQ_POST:
            return "POST";
        case EVHTTP_REQ_PUT:
            return "PUT";
        case EVHTTP_REQ_DELETE:
            return "DELETE";
        case EVHTTP_REQ_OPTIONS:
            return "OPTIONS";
        case EVHTTP_REQ_TRACE:
            return "TRACE";
        case EVHTTP_REQ_CONNECT:
            return "CONNECT";
        case EVHTTP_REQ_PATCH:
            return "PATCH";
    }
    return "-";
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

void AccessLog::Write(evhttp_request* request, int status, unsigned long long bodyBytes) {
    if (m_out == nullptr) return;
    char* peer = nullptr;
    ev_uint16_t port = 0;
    if (evhttp_connection* connection = evhttp_request_get_connection(request))
        evhttp_connection_get_peer(connection, &peer, &port);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char when[40];
    std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &local);
    const evkeyvalq* headers = evhttp_request_get_input_headers(request);
    std::fprintf(m_out, "%s - - [%s] \"%s %s HTTP/%d.%d\" %d %llu \"%s\" \"%s\"\n",
                 peer ? peer : "-", when, MethodName(evhttp_request_get_command(request)),
                 Escaped(evhttp_request_get_uri(request)).c_str(), request->major, request->minor,
                 status, bodyBytes, Escaped(evhttp_find_header(headers, "Referer")).c_str(),
                 Escaped(evhttp_find_header(headers, "User-Agent")).c_str());
}

void AccessLog::Flush() {
    if (m_out) std::fflush(m_out);
}

}  // namespace vendor
