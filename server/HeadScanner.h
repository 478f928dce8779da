// Reads the bytes of a connection's request heads as they arrive, before the HTTP library
// parses them, and judges each head on its own as nginx would where the library differs:
//   - a header line continued on the next (obsolete folding), which the library joins silently;
//   - an HTTP version other than 1.0 or 1.1: above 1 nginx answers 505, which the library cannot
//     (it refuses such a request with 400), and 1.2 is answered as 1.1;
//   - framing: a Content-Length that is not all digits, a Transfer-Encoding other than chunked
//     (501), or on HTTP/1.0, or beside a Content-Length, a NUL in the head, and a GET or HEAD
//     with a body, whose bytes the library would read as the next request.
// A version the library would refuse or answer in kind is rewritten in place (see Patch) so
// that the request reaches the server, which answers from the head seen here. A head that
// announces a body, or that is refused, is the connection's last: the scan stops there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace vendor {

// One request head as it was sent.
struct ScannedHead {
    std::string line;    // the request line as sent, for the access log
    std::string method;  // as sent ("GET", "FETCH"), empty before the request line
    std::string target;  // the request line's target, as sent
    int major = 1;
    int minor = 0;
    int fault = 0;       // nginx's answer to this head: 400, 501 or 505; 0 for none
    bool body = false;   // it announces a body: its reply ends the connection
    bool whole = false;  // its empty line has arrived

    bool Http11() const { return major == 1 && minor >= 1; }
    std::string Version() const;  // "HTTP/1.1"
};

class HeadScanner {
public:
    // Bytes to write over the stream's, at `offset` from its first byte ever fed.
    struct Patch {
        std::uint64_t offset;
        std::string bytes;
    };

    void Feed(const char* bytes, std::size_t size);
    // The rewrites owed for what was fed so far (the caller applies them to its buffer).
    std::vector<Patch> TakePatches() { return std::exchange(m_patches, {}); }
    std::uint64_t Fed() const { return m_fed; }

    // The head of the oldest request not yet answered (possibly still arriving).
    const ScannedHead& Current() const { return m_heads.front(); }
    // That request was answered: the next head comes forward.
    void Next();

private:
    void EndLine();
    void ReadRequestLine();
    void ReadHeaderLine();
    void EndHead();
    void Refuse(int status);
    ScannedHead& Reading() { return m_heads.back(); }

    std::deque<ScannedHead> m_heads{1};
    std::vector<Patch> m_patches;
    std::string m_line;  // the current line, up to a cap
    std::uint64_t m_fed = 0;
    std::uint64_t m_lineOffset = 0;  // of the current line's first byte
    bool m_requestLine = true;
    bool m_lineStart = true;
    bool m_stopped = false;  // past a head with a body or a fault: no head follows
    bool m_nul = false;
    int m_lengths = 0;  // Content-Length headers of the current head
    std::string m_transferEncoding;
    bool m_hasTransferEncoding = false;
};

}  // namespace vendor
