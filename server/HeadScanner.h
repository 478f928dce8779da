// Watches the bytes of request heads as they arrive for a header line continued on the next
// (obsolete line folding), which the HTTP library joins silently and nginx refuses.
#pragma once

#include <cstddef>
#include <string>

namespace vendor {

class HeadScanner {
public:
    void Feed(const char* bytes, std::size_t size);
    bool Folded() const { return m_folded; }

private:
    void EndLine();

    bool m_lineStart = true;
    bool m_requestLine = true;
    bool m_body = false;  // a head announced a body: the scan stops there
    bool m_folded = false;
    std::string m_line;  // the start of the current line, lower case
};

}  // namespace vendor
