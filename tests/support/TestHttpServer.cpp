#include "TestHttpServer.h"

#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace testsupport {
namespace {

constexpr DWORD kSocketTimeoutMs = 15000;

void Fail(const std::string& what) {
    throw TestHttpServerError("test HTTP server: " + what);
}

// Winsock is started once for the process and left running until it ends.
void StartWinsock() {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) Fail("WSAStartup failed with " + std::to_string(started));
}

class Connection {
public:
    explicit Connection(unsigned short port) {
        StartWinsock();
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_socket == INVALID_SOCKET) Fail("socket() failed: " + LastError());
        const DWORD timeout = kSocketTimeoutMs;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
            Fail("nothing answers on 127.0.0.1:" + std::to_string(port) + " (" + LastError() +
                 "); is the test registered with use_test_http_server?");
    }
    ~Connection() { closesocket(m_socket); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SendAll(const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 65536));
            const int n = send(m_socket, bytes.data() + sent, chunk, 0);
            if (n <= 0) Fail("send failed: " + LastError());
            sent += static_cast<std::size_t>(n);
        }
    }

    // Everything until the server closes the connection.
    std::string ReceiveAll() {
        std::string bytes;
        char buffer[16384];
        for (;;) {
            const int n = recv(m_socket, buffer, sizeof(buffer), 0);
            if (n == 0) return bytes;
            if (n < 0) Fail("recv failed: " + LastError());
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }

private:
    static std::string LastError() { return "error " + std::to_string(WSAGetLastError()); }

    SOCKET m_socket = INVALID_SOCKET;
};

// A JSON string of the bytes' Latin-1 view, in ASCII: the server reads it back byte for byte.
std::string JsonString(const std::string& bytes) {
    std::string out = "\"";
    for (const unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* BehaviourName(Behaviour behaviour) {
    switch (behaviour) {
        case Behaviour::Gzip:
            return "gzip";
        case Behaviour::Chunked:
            return "chunked";
        case Behaviour::DropAfter:
            return "drop";
        case Behaviour::Slow:
            return "slow";
        case Behaviour::StallAfter:
            return "stall";
        case Behaviour::ChunkedDropAfter:
            return "chunked_drop";
        case Behaviour::Normal:
            break;
    }
    return "normal";
}

const char* RangeReplyName(RangeReply reply) {
    switch (reply) {
        case RangeReply::Short:
            return "short";
        case RangeReply::Long:
            return "long";
        case RangeReply::ChunkedShort:
            return "chunked_short";
        case RangeReply::OtherFile:
            return "other_file";
        case RangeReply::Gzip:
            return "gzip";
        case RangeReply::Honest:
            break;
    }
    return "honest";
}

std::string RangeEtagJson(const Reply& reply) {
    if (!reply.rangeEtag) return {};
    std::string json = ",\"range_etag\":";
    json += JsonString(reply.rangeEtag);
    return json;
}

std::string ContentLengthJson(const Reply& reply) {
    switch (reply.contentLength) {
        case ContentLength::Absent:
            return "\"absent\"";
        case ContentLength::Announced:
            return std::to_string(reply.announcedLength);
        case ContentLength::Exact:
            break;
    }
    return "\"exact\"";
}

// The script without its body, which travels as the control request's own body.
std::string ScriptJson(const std::string& target, const Reply& reply) {
    std::string headers, statuses;
    for (const int status : reply.statuses) {
        if (!statuses.empty()) statuses += ',';
        statuses += std::to_string(status);
    }
    for (const HttpHeader& header : reply.headers)
        headers += (headers.empty() ? "[" : ",[") + JsonString(header.name) + "," +
                   JsonString(header.value) + "]";
    return "{\"target\":" + JsonString(target) + ",\"status\":" + std::to_string(reply.status) +
           ",\"headers\":[" + headers + "],\"content_length\":" + ContentLengthJson(reply) +
           ",\"behaviour\":\"" + BehaviourName(reply.behaviour) +
           "\",\"piece_bytes\":" + std::to_string(reply.pieceBytes) +
           ",\"interval_ms\":" + std::to_string(reply.intervalMs) +
           ",\"burst_bytes\":" + std::to_string(reply.burstBytes) +
           ",\"after_bytes\":" + std::to_string(reply.afterBytes) +
           ",\"stall_seconds\":" + std::to_string(reply.stallSeconds) +
           ",\"location\":" + JsonString(reply.location) +
           ",\"faulty_replies\":" + std::to_string(reply.faultyReplies) +
           ",\"ranges\":" + (reply.ranges ? "true" : "false") +
           ",\"changing_etag\":" + (reply.changingEtag ? "true" : "false") + ",\"statuses\":[" +
           statuses + "],\"cut_each_reply\":" + (reply.cutEachReply ? "true" : "false") +
           ",\"ignore_if_range\":" + (reply.ignoreIfRange ? "true" : "false") +
           ",\"range_reply\":\"" + RangeReplyName(reply.rangeReply) + "\"" + RangeEtagJson(reply) +
           "}";
}

bool SameLetters(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// Request heads as the server lists them: a request line, header lines, a blank line each.
std::vector<ReceivedRequest> ParseRequestHeads(const std::string& text) {
    std::vector<ReceivedRequest> requests;
    bool inHead = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        if (line.empty()) {
            inHead = false;
        } else if (!inHead) {
            const std::size_t blank = line.find(' ');
            requests.push_back({line.substr(0, blank),
                                blank == std::string::npos ? "" : line.substr(blank + 1),
                                {}});
            inHead = true;
        } else {
            const std::size_t colon = line.find(": ");
            if (colon == std::string::npos) Fail("unreadable header line: " + line);
            requests.back().headers.push_back({line.substr(0, colon), line.substr(colon + 2)});
        }
    }
    return requests;
}

unsigned short PortFromEnvironment() {
    const char* text = std::getenv("QV_TEST_HTTP_PORT");
    const int port = text ? std::atoi(text) : 0;
    if (port <= 0 || port > 65535)
        Fail("QV_TEST_HTTP_PORT is not set; register the test with use_test_http_server()");
    return static_cast<unsigned short>(port);
}

}  // namespace

std::string ReceivedRequest::Header(const std::string& name) const {
    for (const HttpHeader& header : headers)
        if (SameLetters(header.name, name)) return header.value;
    return {};
}

bool ReceivedRequest::HasHeader(const std::string& name) const {
    for (const HttpHeader& header : headers)
        if (SameLetters(header.name, name)) return true;
    return false;
}

TestHttpServer::TestHttpServer() : m_port(PortFromEnvironment()) {}

TestHttpServer::TestHttpServer(unsigned short port) : m_port(port) {}

std::string TestHttpServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

std::wstring TestHttpServer::BaseUrlW() const {
    return L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/";
}

std::wstring TestHttpServer::UrlW(const std::string& target) const {
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(m_port);
    for (const unsigned char c : target) url += static_cast<wchar_t>(c);
    return url;
}

void TestHttpServer::Script(const std::string& target, const Reply& reply) {
    Exchange("POST", "/__script", {{"X-Script", ScriptJson(target, reply)}}, reply.body);
}

std::vector<ReceivedRequest> TestHttpServer::Requests() {
    return ParseRequestHeads(Exchange("GET", "/__requests?format=http", {}, {}));
}

void TestHttpServer::ClearRequests() {
    Exchange("DELETE", "/__requests", {}, {});
}

void TestHttpServer::Reset() {
    Exchange("POST", "/__reset", {}, {});
}

void TestHttpServer::EndStalls() {
    Exchange("POST", "/__end_stalls", {}, {});
}

void TestHttpServer::Mount(const std::string& unixPath) {
    Exchange("POST", "/__mount", {}, "{\"path\":" + JsonString(unixPath) + "}");
}

void TestHttpServer::Remount(const std::string& unixPath, bool readOnly) {
    Exchange("POST", "/__remount", {},
             "{\"path\":" + JsonString(unixPath) +
                 ",\"read_only\":" + (readOnly ? "true" : "false") + "}");
}

void TestHttpServer::Unmount(const std::string& unixPath) {
    Exchange("POST", "/__unmount", {}, "{\"path\":" + JsonString(unixPath) + "}");
}

// One control request on its own connection; the reply's body, or a throw unless 200.
std::string TestHttpServer::Exchange(const std::string& method, const std::string& target,
                                     const std::vector<HttpHeader>& headers,
                                     const std::string& body) {
    std::string request =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
        "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    for (const HttpHeader& header : headers) request += header.name + ": " + header.value + "\r\n";
    request += "\r\n";
    Connection connection(m_port);
    connection.SendAll(request);
    connection.SendAll(body);
    const std::string reply = connection.ReceiveAll();
    const std::size_t headEnd = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || headEnd == std::string::npos)
        Fail(method + " " + target + ": no HTTP reply");
    const std::string replyBody = reply.substr(headEnd + 4);
    if (reply.compare(9, 3, "200") != 0)
        Fail(method + " " + target + ": " + reply.substr(9, 3) + " " + replyBody);
    return replyBody;
}

}  // namespace testsupport
