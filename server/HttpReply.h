// Small pieces of every reply over libevent's HTTP server: headers, a text reply, and the size
// of a reply's body.
#pragma once

#include <string>

struct evhttp_request;

namespace vendor {

void AddHeader(evhttp_request* request, const char* name, const std::string& value);
// A header of the request, or nullptr.
const char* Header(evhttp_request* request, const char* name);
bool IsHead(evhttp_request* request);
// The length of the reply's body, as its headers give it.
unsigned long long BodyBytes(evhttp_request* request);
// A protocol reply: it changes with every release, so nothing on the way may keep it.
void SendText(evhttp_request* request, const std::string& body, const char* type);
// `bytes` as the reply's body (none for HEAD); false when no buffer could be had, with the
// reply not sent.
bool SendBody(evhttp_request* request, int status, const char* reason, const std::string& bytes);

}  // namespace vendor
