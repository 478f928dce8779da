#include "RequestChecks.h"

#include <event2/http.h>
#include <event2/keyvalq_struct.h>
#include <event2/util.h>

#include <cstdlib>
#include <cstring>

namespace vendor {

namespace {

constexpr size_t kLongestUri = 4096;

}  // namespace

// What nginx refuses in a request head that the library lets through: a header name with a
// blank ("Host : x"), two Hosts, two different lengths, HTTP/1.1 without a Host. 0: none.
int HeadFault(evhttp_request* request, bool http11) {
    const evkeyvalq* headers = evhttp_request_get_input_headers(request);
    const char* length = nullptr;
    int hosts = 0;
    for (const evkeyval* header = headers->tqh_first; header; header = header->next.tqe_next) {
        if (std::strpbrk(header->key, " \t") != nullptr) return HTTP_BADREQUEST;
        if (evutil_ascii_strcasecmp(header->key, "Host") == 0) ++hosts;
        if (evutil_ascii_strcasecmp(header->key, "Content-Length") == 0) {
            if (length != nullptr && std::strcmp(length, header->value) != 0)
                return HTTP_BADREQUEST;
            length = header->value;
        }
    }
    if (hosts > 1 || (http11 && hosts == 0)) return HTTP_BADREQUEST;
    const char* uri = evhttp_request_get_uri(request);
    if (uri != nullptr && std::strlen(uri) > kLongestUri) return 414;
    return 0;
}

// The decoded path, or false for one that no request of ours can have: not absolute, with a
// NUL, a backslash or a "." or ".." segment (plain or encoded).
bool DecodedPath(evhttp_request* request, std::string& path) {
    const char* raw = evhttp_uri_get_path(evhttp_request_get_evhttp_uri(request));
    if (raw == nullptr || raw[0] != '/') return false;
    size_t length = 0;
    char* decoded = evhttp_uridecode(raw, 0, &length);
    if (decoded == nullptr) return false;
    path.assign(decoded, length);
    std::free(decoded);
    if (path.find('\0') != std::string::npos || path.find('\\') != std::string::npos) return false;
    const std::string ends = path + "/";
    return ends.find("/./") == std::string::npos && ends.find("/../") == std::string::npos;
}

}  // namespace vendor
