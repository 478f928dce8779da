// Scripts the tests' HTTP server (tests/server/test_http_server.py, started by the ctest
// fixture test_http_server) and reads what it received. Talks to it over plain Winsock, so
// that the WinINet code under test is not used to set up its own test.
//
// Each request target ("/path?query", matched exactly) answers what was scripted for it;
// anything else gets 404. Texts are byte strings as they go on the wire. Every call throws
// TestHttpServerError (a std::runtime_error) with a readable message when the server
// cannot be reached or refuses a script; GoogleTest reports that as the test's failure.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

struct HttpHeader {
    std::string name;
    std::string value;
};

// How the reply's Content-Length is given.
enum class ContentLength {
    Exact,      // the body's length (for Gzip, the encoded length)
    Absent,     // none: the server closes the connection after the body
    Announced,  // Reply::announcedLength, whatever the body's length; the connection is
                // closed after the body when they differ
};

// How the body is sent.
enum class Behaviour {
    Normal,
    Gzip,              // Content-Encoding: gzip, the body's real gzip bytes
    Chunked,           // Transfer-Encoding: chunked, pieceBytes per chunk, no Content-Length
    DropAfter,         // the body up to the file's byte afterBytes, then the connection is closed
    Slow,              // burstBytes at once, then pieceBytes at a time, intervalMs apart
    StallAfter,        // the body up to the file's byte afterBytes, silence for stallSeconds, then
                       // the close
    ChunkedDropAfter,  // afterBytes of the body in chunks of pieceBytes, then the close: the
                       // last chunk never comes
};

// How a range request is answered 206: as it should be, or as a server that breaks the rules.
enum class RangeReply {
    Honest,
    Short,         // Content-Length and body 1000 bytes short of the rest
    Long,          // "GARBAGE!" after the rest, and announced
    ChunkedShort,  // chunked, 1000 bytes short, its last chunk sent
    OtherFile,     // the rest of another file (every byte inverted)
    Gzip,          // Content-Encoding: gzip, the rest compressed
};

// One scripted reply, meant for designated initializers ({.status = 404, .body = "..."}).
// Only the fields that a behaviour names are used by it.
struct Reply {
    int status = 200;
    std::vector<HttpHeader> headers{};  // sent as given, before the framing headers
    std::string body{};                 // bytes, up to a few MB
    ContentLength contentLength = ContentLength::Exact;
    std::uint64_t announcedLength = 0;  // ContentLength::Announced
    Behaviour behaviour = Behaviour::Normal;
    std::size_t pieceBytes = 4096;  // Chunked, Slow, ChunkedDropAfter
    unsigned intervalMs = 0;        // Slow
    std::size_t burstBytes = 0;     // Slow
    std::size_t afterBytes = 0;     // DropAfter, StallAfter, ChunkedDropAfter
    unsigned stallSeconds = 0;      // StallAfter (the server bounds it at 300)
    std::string location{};         // a Location header when not empty (302, 307)
    unsigned faultyReplies = 0;     // DropAfter, StallAfter: only the first this many replies
                                    // misbehave, later ones are whole; 0: every one
    bool ranges = false;        // "Range: bytes=N-" is answered 206 with the rest, unless If-Range
                                // names another validator than the reply's ETag or Last-Modified
    bool changingEtag = false;  // each reply has an ETag of its own
    std::vector<int> statuses{};  // reply n has statuses[n-1] instead of `status` while there is
                                  // one; 0 closes the connection without a reply
    bool cutEachReply = false;    // DropAfter, StallAfter: afterBytes counts from each reply's
                                  // own first byte, so that every range brings that many
    bool ignoreIfRange = false;   // with ranges, a Range is answered 206 whatever If-Range says
    RangeReply rangeReply = RangeReply::Honest;
    const char* rangeEtag = nullptr;  // the ETag a 206 carries instead ("" for none)
};

// A request the server received (control requests are not recorded).
struct ReceivedRequest {
    std::string method;
    std::string target;  // "/path?query" as sent
    std::vector<HttpHeader> headers;

    // The first header of that name (case-insensitive), empty when absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

class TestHttpServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TestHttpServer {
public:
    // The fixture's server: its port comes from the environment variable QV_TEST_HTTP_PORT
    // (throws when it is missing: the test is not registered with use_test_http_server).
    TestHttpServer();
    explicit TestHttpServer(unsigned short port);

    unsigned short Port() const { return m_port; }
    // "http://127.0.0.1:<port>/"
    std::string BaseUrl() const;
    std::wstring BaseUrlW() const;
    // BaseUrl() without its final slash, followed by `target` ("/path?query").
    std::wstring UrlW(const std::string& target) const;

    // `target` answers `reply` from now on, replacing an earlier script for it.
    void Script(const std::string& target, const Reply& reply);
    // The requests received since the last Reset or ClearRequests, oldest first.
    std::vector<ReceivedRequest> Requests();
    void ClearRequests();
    // Forgets every script and the requests received.
    void Reset();
    // The stalls under way (StallAfter) end at once: their connections close.
    void EndStalls();

    // A 64 MB tmpfs mounted by the server at `unixPath`, which must be /tmp/qv-ro-<name>
    // (letters, digits, '.', '_', '-'); switched read-only and back, unmounted and removed.
    // MountedFolder wraps these.
    void Mount(const std::string& unixPath);
    void Remount(const std::string& unixPath, bool readOnly);
    void Unmount(const std::string& unixPath);

private:
    std::string Exchange(const std::string& method, const std::string& target,
                         const std::vector<HttpHeader>& headers, const std::string& body);

    unsigned short m_port = 0;
};

}  // namespace testsupport
