// The update server's protocol: how a reply is read, how the update list's record is cut, and
// FetchText, one request for a short text reply. Each caller gets its own reply.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "GbkString.h"

using StopCheck = std::function<bool()>;

// What any failed request leaves as its reply.
constexpr char kFailureWord[] = "error";

// A body read line by line, each line without its line break, joined with nothing between.
GbkString JoinReplyLines(std::string_view body);

// The update list's record: "#version#address#", cut by the positions of the first three "#".
struct UpdateRecord {
    GbkString version;
    GbkString address;
};
UpdateRecord CutUpdateRecord(const GbkString& reply);

// Addresses the server names are opened by the shell (the manual-download page) or
// downloaded (the new program): only an absolute http or https address, without blanks,
// quotes or control characters, is either.
bool IsWebAddress(const GbkString& text);

// Requests url and leaves the reply in reply: the body's lines joined for status 200, the
// failure word for anything else (another status, no connection, a broken or short body, a
// server silent for a minute, or a stop). headers are sent besides WinINet's own: lines joined
// by CR LF, such as InstallIdHeader's.
void FetchText(const GbkString& url, GbkString& reply, const StopCheck& stopRequested = {},
               const std::wstring& headers = {});
