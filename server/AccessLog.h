// The access log, one line per answered request in nginx's "combined" format:
//   127.0.0.1 - - [07/Dec/2026:20:17:53 +0000] "GET /freeUpdate/isweb.asp HTTP/1.1" 200 4 "-"
//   "curl/7.88.1"
// written to a file (reopened on SIGHUP, for log rotation) or to standard output.
#pragma once

#include <cstdio>
#include <string>

namespace vendor {

struct ScannedHead;

class AccessLog {
public:
    ~AccessLog();
    // `target` is a file name, or "-" for standard output; false with `error` set.
    bool Open(const std::string& target, std::string& error);
    bool Reopen(std::string& error) { return Open(m_target, error); }
    bool Enabled() const { return m_out != nullptr; }
    // One request: its client's address, its head as sent, two of its headers (nullptr when
    // absent), the reply's status and the bytes of its body sent.
    void Write(const std::string& peer, const ScannedHead& head, const char* referer,
               const char* agent, int status, unsigned long long bodyBytes);
    void Flush();

private:
    std::string m_target;
    std::FILE* m_out = nullptr;
};

}  // namespace vendor
