// The program's reply: whole, a range of it, or what its validators decide.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/http.h>

#include "ByteRanges.h"
#include "HttpReply.h"
#include "UpdateServer.h"

namespace vendor {

// The program as it was checked, never with a Content-Encoding: installed updaters ask for gzip
// and write whatever arrives.
void UpdateServer::SendProgram(evhttp_request* request, const ProgramFile& file,
                               const std::string& etag, std::time_t modified,
                               const std::string& version) {
    const FilePart part =
        DecideFilePart({Header(request, "Range"), Header(request, "If-Range"),
                        Header(request, "If-None-Match"), Header(request, "If-Modified-Since"),
                        Header(request, "If-Match"), Header(request, "If-Unmodified-Since")},
                       {etag, modified, file.Size()});
    AddHeader(request, "ETag", etag);
    AddHeader(request, "Last-Modified", HttpDate(modified));
    AddHeader(request, "Accept-Ranges", "bytes");
    AddHeader(request, "Content-Type", kProgramType);
    int status = HTTP_OK;
    const char* reason = "OK";
    switch (part.kind) {
        case FilePart::NotModified:
            return evhttp_send_reply(request, HTTP_NOTMODIFIED, "Not Modified", nullptr);
        case FilePart::PreconditionFailed:
            AddHeader(request, "Content-Length", "0");
            return evhttp_send_reply(request, 412, "Precondition Failed", nullptr);
        case FilePart::Unsatisfiable:
            AddHeader(request, "Content-Range", "bytes */" + std::to_string(file.Size()));
            AddHeader(request, "Content-Length", "0");
            return evhttp_send_reply(request, 416, "Range Not Satisfiable", nullptr);
        case FilePart::Partial:
            status = 206;
            reason = "Partial Content";
            AddHeader(request, "Content-Range",
                      "bytes " + std::to_string(part.first) + "-" +
                          std::to_string(part.first + part.length - 1) + "/" +
                          std::to_string(file.Size()));
            break;
        case FilePart::Whole:
            break;
    }
    AddHeader(request, "Content-Length", std::to_string(part.length));
    if (IsHead(request) || part.length == 0) {
        return evhttp_send_reply(request, status, reason, nullptr);
    }
    evbuffer* content = evbuffer_new();
    // The release's one open file goes out with sendfile, so memory does not grow with it: the
    // buffer must say that it ends in a socket before the segment is added, or the file is
    // mapped instead. A rate-limited download (a demonstration's) is sent from that mapping,
    // made once for all of them: sendfile would pass the connection's rate limit by.
    if (content && !m_rate) evbuffer_set_flags(content, EVBUFFER_FLAG_DRAINS_TO_FD);
    if (content == nullptr ||
        evbuffer_add_file_segment(content, file.Segment(), static_cast<ev_off_t>(part.first),
                                  static_cast<ev_off_t>(part.length)) != 0) {
        if (content) evbuffer_free(content);
        // No memory for now: the program is still there, the client should come back.
        AddHeader(request, "Retry-After", "1");
        return Refuse(request, HTTP_SERVUNAVAIL, "Service Unavailable");
    }
    m_connections->LongReply(request);
    if (m_metrics && !version.empty()) m_metrics->DownloadStarted(version);
    evhttp_connection* connection = evhttp_request_get_connection(request);
    if (m_rate) bufferevent_set_rate_limit(evhttp_connection_get_bufferevent(connection), m_rate);
    const ScannedHead* head = m_connections->Head(request);
    m_downloads.Started(request, {request, head ? *head : ScannedHead{},
                                  PeerOf(evhttp_connection_get_bufferevent(connection)), status,
                                  part.length, version});
    evhttp_send_reply(request, status, reason, content);
    evbuffer_free(content);
}

}  // namespace vendor
