// A GET that outlives a dropped or stalled connection. Once part of a body is in hand, a try
// that fails asks for the rest ("Range: bytes=N-"), with If-Range naming the body as the first
// reply gave it, so that a changed file comes whole instead of as a patchwork. Only a body of
// known length with a validator can be resumed; any other fails as a single request does.
#pragma once

#include <cstdint>
#include <string>

#include "HttpGet.h"

// How much of a body is in hand, and what names it on the server.
struct ResumePoint {
    uint64_t offset = 0;     // bytes in hand
    uint64_t total = 0;      // the whole body's length, 0 when none was given
    std::wstring validator;  // the If-Range value, empty when there is none

    bool Resumable() const { return offset > 0 && total > 0 && !validator.empty(); }
};

// What names a reply's body for If-Range: its strong ETag, else its Last-Modified when that
// is at least a second before the reply's Date (a file changed within the second of its date
// may change again under the same date). A weak ETag names nothing. Empty when none.
std::wstring ResumeValidator(const HttpResponseInfo& reply);

// A Content-Range "bytes first-last/total". False when the text is not of that form.
bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& last, uint64_t& total);

// Whether a 206 to "Range: bytes=<offset>-" with If-Range is the rest of the very body in hand:
// its Content-Range runs from the first byte missing to the end of a body of the same length,
// its own length (when given) is what is missing, it is not encoded, and it names the body as
// the validator does (the same strong ETag; under a date, the same date and no strong ETag).
// A server that ignores If-Range, or a proxy that cuts or pads, fails one of these: its bytes
// would be spliced onto another body's.
bool IsRestOfBody(const HttpResponseInfo& reply, const ResumePoint& point);

// Whether a reply says "not now" rather than "no": the server is busy or failing (5xx), timed
// the request out (408), asks for fewer requests (429), or sent no reply at all (0).
bool IsPassingFailure(DWORD status);

// A reply's Retry-After in milliseconds, as seconds or as a date after the reply's Date; 0 when
// there is none or it cannot be read.
DWORD RetryAfterMs(const HttpResponseInfo& reply);

class ResumableSink : public HttpSink {
public:
    // Begin is called for every reply whose body starts at byte 0; Write for each chunk, in
    // order, wherever the body started.

    // Whatever is in hand must go: a range request was answered with the whole body (the file
    // has changed), or the rest could not be trusted. False fails the download.
    virtual bool StartOver() = 0;
    // A range request was answered with the rest of the body, from `offset` on.
    virtual void Resumed(uint64_t offset) = 0;
    // A try has ended: what is in hand should be made to last.
    virtual void TryEnded(const ResumePoint& point) = 0;
};

struct RetryPolicy {
    DWORD firstPauseMs = 1000;   // the pause after a try that brought bytes; doubled after each
                                 // try that brought none
    int mostFruitlessTries = 5;  // tries in a row that bring nothing new before it gives up
    int mostStartOvers = 3;      // times the body may start again from its first byte
};

// Tries until the body is whole, a try fails in a way another cannot mend, or too many tries in
// a row bring nothing new: a try counts only when the body gets past the furthest byte it had
// reached, so a server that cuts every connection at the same place and serves no ranges ends
// it. A passing failure of the server (see IsPassingFailure) counts as a try that brought
// nothing, and its Retry-After lengthens the pause up to the longest pause. A 206 that is not
// the rest of the body in hand, or a 416, starts the body again from its first byte (never a
// splice). `point` says where the body stands when it is called (a kept part: its length and
// validator) and when it returns; a part whose length is the whole body's is complete, and is
// not asked for again. The result's count is the bytes in hand.
HttpResult ResumableGet(const std::wstring& url, const HttpGetOptions& options,
                        const RetryPolicy& retry, ResumePoint& point, ResumableSink& sink);
