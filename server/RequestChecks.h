// The checks of a request that the HTTP library does not make, answered as nginx answers them.
#pragma once

#include <string>

struct evhttp_request;

namespace vendor {

// What nginx refuses in a request head that the library lets through: 400 or 414, or 0 for none.
// `http11`: the head says HTTP/1.1 or later.
int HeadFault(evhttp_request* request, bool http11);
// The request's decoded path, or false for one that no request of ours can have.
bool DecodedPath(evhttp_request* request, std::string& path);

}  // namespace vendor
