// The error page, as nginx words it, keeping the headers already set (the library's own page
// drops them). The connection closes after it.
#pragma once

struct evhttp_request;

namespace vendor {

// `reason` nullptr: "Not Found" for 404, "Bad Request" otherwise.
void SendError(evhttp_request* request, int status, const char* reason = nullptr);
// nginx's reason for a status of the head checks (400, 414, 501, 505).
const char* ReasonOf(int status);

}  // namespace vendor
