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

class ResumableSink : public HttpSink {
public:
    // Begin is called for every reply whose body starts at byte 0; Write for each chunk, in
    // order, wherever the body started.

    // A range request was answered with the whole body (the file has changed): whatever is in
    // hand must go. False fails the download.
    virtual bool StartOver() = 0;
    // A range request was answered with the rest of the body, from `offset` on.
    virtual void Resumed(uint64_t offset) = 0;
    // A try has ended: what is in hand should be made to last.
    virtual void TryEnded(const ResumePoint& point) = 0;
};

struct RetryPolicy {
    DWORD firstPauseMs = 1000;   // the pause after a try that brought bytes; doubled after each
                                 // try that brought none
    int mostFruitlessTries = 5;  // tries in a row that bring no byte before it gives up
};

// Tries until the body is whole, a try fails in a way another cannot mend, or too many tries in
// a row bring nothing. `point` says where the body stands when it is called (a kept part: its
// length and validator) and when it returns. The result's count is the bytes in hand.
HttpResult ResumableGet(const std::wstring& url, const HttpGetOptions& options,
                        const RetryPolicy& retry, ResumePoint& point, ResumableSink& sink);
