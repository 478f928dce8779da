#include "ErrorPage.h"

#include <event2/http.h>

#include <string>

#include "HttpReply.h"

namespace vendor {

const char* ReasonOf(int status) {
    switch (status) {
        case 404:
            return "Not Found";
        case 414:
            return "Request-URI Too Large";
        case 501:
            return "Not Implemented";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Bad Request";
    }
}

void SendError(evhttp_request* request, int status, const char* reason) {
    if (reason == nullptr) reason = ReasonOf(status);
    const std::string title = std::to_string(status) + " " + reason;
    const std::string page = "<html>\r\n<head><title>" + title +
                             "</title></head>\r\n<body>\r\n<center><h1>" + title +
                             "</h1></center>\r\n</body>\r\n</html>\r\n";
    evkeyvalq* headers = evhttp_request_get_output_headers(request);
    for (const char* program :
         {"Content-Type", "Content-Length", "ETag", "Last-Modified", "Accept-Ranges"})
        evhttp_remove_header(headers, program);  // set for a program that is not sent after all
    AddHeader(request, "Content-Type", "text/html");
    AddHeader(request, "Content-Length", std::to_string(page.size()));
    if (!evhttp_find_header(headers, "Connection")) AddHeader(request, "Connection", "close");
    if (!SendBody(request, status, reason, page))
        evhttp_send_reply(request, status, reason, nullptr);
}

}  // namespace vendor
