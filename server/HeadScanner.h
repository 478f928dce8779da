// Watches the bytes of request heads as they arrive for what the HTTP library handles unlike
// nginx: a header line continued on the next (obsolete line folding), which the library joins
// silently and nginx refuses with 400; and an HTTP version above 1, which the library refuses
// with 400 and nginx with 505. Such a version's major digit is turned into 1 where it lies in
// the connection's input, so that the request reaches the server, which answers 505.
#pragma once

#include <cstddef>
#include <string>

namespace vendor {

class HeadScanner {
public:
    void Feed(char* bytes, std::size_t size);
    bool Folded() const { return m_folded; }
    bool UnsupportedVersion() const { return m_unsupportedVersion; }

private:
    void EndLine();
    void CheckVersion(char& c);

    bool m_lineStart = true;
    bool m_requestLine = true;
    bool m_body = false;  // a head announced a body: the scan stops there
    bool m_folded = false;
    bool m_unsupportedVersion = false;
    std::string m_line;  // the start of the current line, lower case
    std::string m_tail;  // the end of the request line read so far
};

}  // namespace vendor
