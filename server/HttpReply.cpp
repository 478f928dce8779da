#include "HttpReply.h"

#include <event2/buffer.h>
#include <event2/http.h>

#include <cstdlib>

namespace vendor {

void AddHeader(evhttp_request* request, const char* name, const std::string& value) {
    evhttp_add_header(evhttp_request_get_output_headers(request), name, value.c_str());
}

const char* Header(evhttp_request* request, const char* name) {
    return evhttp_find_header(evhttp_request_get_input_headers(request), name);
}

bool IsHead(evhttp_request* request) {
    return evhttp_request_get_command(request) == EVHTTP_REQ_HEAD;
}

unsigned long long BodyBytes(evhttp_request* request) {
    const char* length =
        evhttp_find_header(evhttp_request_get_output_headers(request), "Content-Length");
    return IsHead(request) || !length ? 0 : std::strtoull(length, nullptr, 10);
}

bool SendBody(evhttp_request* request, int status, const char* reason, const std::string& bytes) {
    evbuffer* content = evbuffer_new();
    if (content == nullptr) return false;
    if (!IsHead(request)) evbuffer_add(content, bytes.data(), bytes.size());
    evhttp_send_reply(request, status, reason, content);
    evbuffer_free(content);
    return true;
}

void SendText(evhttp_request* request, const std::string& body, const char* type) {
    AddHeader(request, "Content-Type", type);
    AddHeader(request, "Cache-Control", "no-cache, no-store, must-revalidate");
    AddHeader(request, "Pragma", "no-cache");
    AddHeader(request, "Expires", "0");
    AddHeader(request, "Content-Length", std::to_string(body.size()));
    if (!SendBody(request, 200, "OK", body)) evhttp_send_reply(request, 503, "No Memory", nullptr);
}

}  // namespace vendor
