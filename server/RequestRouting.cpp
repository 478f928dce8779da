// The routing of each request by the route table, and what each request came to: the access
// log and the metrics.
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/http.h>
#include <event2/keyvalq_struct.h>

#include <ctime>

#include "ByteRanges.h"
#include "ErrorPage.h"
#include "HttpReply.h"
#include "RequestChecks.h"
#include "Rollout.h"
#include "Routes.h"
#include "UpdateServer.h"

namespace vendor {

namespace {

bufferevent* ConnectionOf(evhttp_request* request) {
    return evhttp_connection_get_bufferevent(evhttp_request_get_connection(request));
}

// An absolute-form request ("GET http://host/path"): the library takes it for one to a proxy,
// which it closes after the reply unless "Proxy-Connection: keep-alive" was on both sides.
bool AbsoluteForm(evhttp_request* request) {
    return evhttp_uri_get_host(evhttp_request_get_evhttp_uri(request)) != nullptr;
}

bool AsksToClose(evhttp_request* request, const ScannedHead* head) {
    const char* connection = Header(request, "Connection");
    const bool keepAlive = connection && evutil_ascii_strcasecmp(connection, "keep-alive") == 0;
    const bool close = connection && evutil_ascii_strcasecmp(connection, "close") == 0;
    return close || (head && !head->Http11() && !keepAlive);
}

}  // namespace

void UpdateServer::OnRequest(evhttp_request* request, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    evhttp_request_set_on_complete_cb(request, OnReplyDone, server);
    server->m_connections->ReplyStarts(request);
    // Stopping: this reply is the connection's last.
    if (server->m_connections->Draining()) AddHeader(request, "Connection", "close");
    if (AbsoluteForm(request)) {
        evhttp_add_header(evhttp_request_get_input_headers(request), "Proxy-Connection",
                          "keep-alive");
        if (AsksToClose(request, server->m_connections->Head(request)))
            AddHeader(request, "Connection", "close");
    }
    server->Handle(request);
}

void UpdateServer::OnMetricsRequest(evhttp_request* request, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    evhttp_request_set_on_complete_cb(request, OnMetricsReplyDone, server);
    server->m_connections->ReplyStarts(request);
    AddHeader(request, "Date", HttpDate(std::time(nullptr)));
    server->m_metrics->Serve(request);
}

void UpdateServer::OnMetricsReplyDone(evhttp_request* request, void* self) {
    static_cast<UpdateServer*>(self)->m_connections->ReplyDone(request);
}

void UpdateServer::OnReplyDone(evhttp_request* request, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    const std::string version = server->m_downloads.Finished(request);
    const bool recorded = server->m_accessLog.Enabled() || server->m_metrics;
    if (const ScannedHead* head = server->m_connections->Head(request); head && recorded)
        server->Record(request, *head, PeerOf(ConnectionOf(request)),
                       evhttp_request_get_response_code(request), BodyBytes(request), true,
                       version);
    const evkeyvalq* headers = evhttp_request_get_output_headers(request);
    if (AbsoluteForm(request) && !evhttp_find_header(headers, "Connection"))
        AddHeader(request, "Proxy-Connection", "keep-alive");  // read after the head went out
    server->m_connections->ReplyDone(request);
}

void UpdateServer::Record(evhttp_request* request, const ScannedHead& head, const std::string& peer,
                          int status, unsigned long long bytes, bool whole,
                          const std::string& version) {
    if (!m_accessLog.Enabled() && !m_metrics) return;
    const evkeyvalq* headers = request ? evhttp_request_get_input_headers(request) : nullptr;
    m_accessLog.Write(peer, head, headers ? evhttp_find_header(headers, "Referer") : nullptr,
                      headers ? evhttp_find_header(headers, "User-Agent") : nullptr, status, bytes);
    if (!m_metrics) return;
    std::string path;
    const Route route = request && DecodedPath(request, path) ? RouteOf(path) : Route::Other;
    if (!version.empty()) m_metrics->DownloadEnded(version, bytes, whole);
    m_metrics->Answered(std::string(RouteName(route)), status);
}

void UpdateServer::Refuse(evhttp_request* request, int status, const char* reason) {
    m_connections->CloseAfterReply(request);
    SendError(request, status, reason);
}

const Replies& UpdateServer::CurrentReplies() {
    if (m_repliesFor != m_catalog.Current()) {
        m_repliesFor = m_catalog.Current();
        m_replies = MakeReplies(*m_repliesFor, m_options.publicBase);
    }
    return m_replies;
}

void UpdateServer::Handle(evhttp_request* request) {
    AddHeader(request, "Date", HttpDate(std::time(nullptr)));
    const ScannedHead* head = m_connections->Head(request);
    if (head && head->fault) return Refuse(request, head->fault);
    if (const int fault = HeadFault(request, head == nullptr || head->Http11()))
        return Refuse(request, fault);
    const evhttp_cmd_type method = evhttp_request_get_command(request);
    if (method != EVHTTP_REQ_GET && method != EVHTTP_REQ_HEAD) {
        AddHeader(request, "Allow", "GET, HEAD");
        return Refuse(request, 405, "Not Allowed");
    }
    std::string path;
    if (!DecodedPath(request, path)) return Refuse(request, 400);
    const Replies& replies = CurrentReplies();
    switch (RouteOf(path)) {
        case Route::Check:
            return SendText(request, replies.check, kTextType);
        case Route::UpdateList:
            return HandleUpdateList(request, replies);
        case Route::Notes:
            return SendText(request, replies.notesPage, kPageType);
        case Route::Download:
            if (ReleasePtr release = m_catalog.Find(path.substr(1)))
                return SendProgram(request, *release->file, release->etag, release->modified,
                                   release->version);
            break;
        case Route::Patch:
            if (ReleasePtr release = m_catalog.FindPatch(path.substr(1))) {
                const Patch& patch = *release->patch;
                return SendProgram(request, *patch.file, patch.etag, patch.modified, {});
            }
            break;
        case Route::Other:
            break;
    }
    Refuse(request, 404);
}

void UpdateServer::HandleUpdateList(evhttp_request* request, const Replies& replies) {
    const char* query = evhttp_uri_get_query(evhttp_request_get_evhttp_uri(request));
    evkeyvalq fields{};
    const char* action = nullptr;
    if (query != nullptr && evhttp_parse_query_str(query, &fields) == 0)
        action = evhttp_find_header(&fields, "action");
    const std::string which = action ? action : "";
    evhttp_clear_headers(&fields);
    if (which == "Auto") return SendUpdateList(request, replies);
    if (which == "Hand") return SendText(request, replies.manual, kTextType);
    Refuse(request, 400);
}

// Inside the rollout the release's record, outside it the previous release's or nothing. The
// installation's id decides and is forgotten: never logged, never a label of the metrics.
void UpdateServer::SendUpdateList(evhttp_request* request, const Replies& replies) {
    const Release& release = *m_repliesFor;
    const bool in = InRollout(release.rollout, Header(request, "X-Install-Id"), release.version);
    if (m_metrics)
        m_metrics->Offered(in                 ? release.version
                           : release.previous ? release.previous->version
                                              : "none",
                           in);
    SendText(request, in ? replies.autoList : replies.autoListOut, kTextType);
}

}  // namespace vendor
