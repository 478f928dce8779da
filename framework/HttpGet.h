// One HTTP GET over WinINet, its body handed to a sink chunk by chunk. It knows nothing of
// windows. WinINet runs in its asynchronous mode: a blocking read on a server that has gone
// silent cannot be interrupted, an asynchronous one can, so a stop or a silent server ends
// the transfer at once instead of after the network's own time-outs.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

struct HttpResponseInfo {
    DWORD status = 0;  // 0 when it could not be read
    bool hasLength = false;
    uint64_t length = 0;    // the announced Content-Length
    std::wstring encoding;  // Content-Encoding, empty when none was given
    // As given, empty when absent: what a resumed request needs to know the body again.
    std::wstring etag, lastModified, date, contentRange;
    std::wstring retryAfter;  // how long a busy server asks to be left alone
};

class HttpSink {
public:
    virtual ~HttpSink() = default;
    // The response's head; false refuses the body, which is then not read.
    virtual bool Begin(const HttpResponseInfo& response) = 0;
    // One chunk of the body; false ends the transfer.
    virtual bool Write(const char* data, DWORD size) = 0;
};

struct HttpGetOptions {
    std::wstring agent;
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::wstring headers;  // extra request headers, lines joined by CR LF
    DWORD flags = 0;       // InternetOpenUrl's flags (redirects are always followed by hand)
    bool resetCacheSession = false;
    DWORD chunkSize = 16384;  // the most the sink is handed at once
    // The most taken from WinINet at once: fewer, larger reads. Reading ahead takes two such
    // buffers, one filled by WinINet while the sink takes the other.
    DWORD readSize = 65536;
    DWORD idleTimeoutMs = 60000;          // nothing received for this long ends the transfer
    std::function<bool()> stopRequested;  // asked between chunks and while waiting
    // Whether a transfer cut now could go on from the bytes in hand. Only then does it read
    // ahead (ask for more than WinINet holds, which is what makes a fast link fast): such a
    // read shows nothing of the bytes that come until it is full, so one that is still
    // waiting after slowReadLimitMs ends the try as Slowed, for the rest to be asked for
    // anew. Otherwise it reads only what is held, and sees every byte as it comes.
    std::function<bool()> resumable;
    DWORD slowReadLimitMs = 1000;
};

enum class HttpOutcome {
    Complete,    // the whole body was read
    Truncated,   // the body ended before its announced length
    Refused,     // the sink refused the body
    SinkFailed,  // the sink could not take a chunk
    Stopped,
    TimedOut,
    Slowed,       // a read ahead waited too long: the link has slowed (see `resumable`)
    Failed,       // no connection, no such host, a failed read...
    Unavailable,  // the server answered "not now" (a 5xx, 408 or 429) or sent no reply
};

// Redirects are followed here, not by WinINet (which follows any number, to any scheme): at
// most this many, each to an http or https address, each sent the same request headers.
constexpr int kMostRedirects = 5;

struct HttpResult {
    HttpOutcome outcome = HttpOutcome::Failed;
    DWORD error = 0;  // the system's error code when it failed
    uint64_t received = 0;
};

// A transfer given up on (stopped, timed out, slowed, or refused with its body unread) has its
// handles closed on a thread of its own, and keeps what WinINet may still write into until its
// last operation has completed: on a connection that the server keeps open and silent that is
// for as long as the server likes (under Wine a WinINet thread stays blocked on it meanwhile).
// So at most kMostHeldTransfers transfers are held at once, running or given up and not yet let
// go; each holds two buffers of max(readSize, chunkSize) bytes (with reads of 2 MiB, 20 MiB for
// all of them), its WinINet handles, at most one closing thread and one operation (under Wine,
// one WinINet thread). Of the transfers let go, one keeps its buffers for the next transfer,
// the others none; their small records are reused. One that would exceed the bound waits for
// another to be let go; if none is within idleTimeoutMs it ends as TimedOut without opening
// anything, and a stop ends the wait at once.
constexpr unsigned kMostHeldTransfers = 5;

HttpResult HttpGet(const std::wstring& url, const HttpGetOptions& options, HttpSink& sink);
