// What part of a file a GET asks for: its Range, If-Range and validators, decided apart from
// the HTTP library. Only single ranges are served as 206; a list of ranges gets the whole file.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vendor {

struct FileValidators {
    std::string etag;  // quoted
    std::time_t modified = 0;
    std::uint64_t size = 0;
};

struct RequestValidators {
    const char* range = nullptr;  // header values, nullptr when absent
    const char* ifRange = nullptr;
    const char* ifNoneMatch = nullptr;
    const char* ifModifiedSince = nullptr;
    const char* ifMatch = nullptr;
    const char* ifUnmodifiedSince = nullptr;
    std::time_t now = 0;  // 0: the clock's; an If-Modified-Since after it is ignored
};

struct FilePart {
    enum Kind { Whole, Partial, Unsatisfiable, NotModified, PreconditionFailed } kind = Whole;
    std::uint64_t first = 0;
    std::uint64_t length = 0;
};

FilePart DecideFilePart(const RequestValidators& request, const FileValidators& file);

// RFC 7231 date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(std::time_t time);
// Any of the three forms a client may send: RFC 7231, RFC 850 ("Sunday, 06-Nov-94 08:49:37
// GMT") and asctime ("Sun Nov  6 08:49:37 1994"); false for anything else.
bool ParseHttpDate(const char* text, std::time_t& time);

}  // namespace vendor
