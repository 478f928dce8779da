#include "UpdateServer.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/http_struct.h>
#include <event2/keyvalq_struct.h>
#include <event2/listener.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ByteRanges.h"
#include "RequestChecks.h"

namespace vendor {

namespace {

void Report(const std::string& text) {
    std::fprintf(stderr, "update-server: %s\n", text.c_str());
}

void AddHeader(evhttp_request* request, const char* name, const std::string& value) {
    evhttp_add_header(evhttp_request_get_output_headers(request), name, value.c_str());
}

const char* Header(evhttp_request* request, const char* name) {
    return evhttp_find_header(evhttp_request_get_input_headers(request), name);
}

// An error page that keeps the headers already set (the library's own drops them); the
// connection closes after it.
void SendError(evhttp_request* request, int status, const char* reason) {
    if (reason == nullptr) reason = status == HTTP_NOTFOUND ? "Not Found" : "Bad Request";
    const std::string title = std::to_string(status) + " " + reason;
    const std::string page = "<html>\r\n<head><title>" + title +
                             "</title></head>\r\n<body>\r\n<center><h1>" + title +
                             "</h1></center>\r\n</body>\r\n</html>\r\n";
    evkeyvalq* headers = evhttp_request_get_output_headers(request);
    for (const char* program :
         {"Content-Type", "Content-Length", "ETag", "Last-Modified", "Accept-Ranges"})
        evhttp_remove_header(headers, program);  // set for a program that is not sent after all
    AddHeader(request, "Content-Type", "text/html");
    AddHeader(request, "Content-Length", std::to_string(page.size()));
    if (!evhttp_find_header(headers, "Connection")) AddHeader(request, "Connection", "close");
    evbuffer* content = evbuffer_new();
    if (evhttp_request_get_command(request) != EVHTTP_REQ_HEAD)
        evbuffer_add(content, page.data(), page.size());
    evhttp_send_reply(request, status, reason, content);
    evbuffer_free(content);
}

bool IsHead(evhttp_request* request) {
    return evhttp_request_get_command(request) == EVHTTP_REQ_HEAD;
}

// The length of the reply's body, as its headers give it.
unsigned long long BodyBytes(evhttp_request* request) {
    const char* length =
        evhttp_find_header(evhttp_request_get_output_headers(request), "Content-Length");
    return IsHead(request) || !length ? 0 : std::strtoull(length, nullptr, 10);
}

constexpr int kListenBacklog = 511;

// Below the descriptor limit, leaving room for the releases' files, the folder's checks and the
// logs.
std::size_t DefaultConnectionCap() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 4096;
    const auto descriptors = static_cast<std::size_t>(limit.rlim_cur);
    const std::size_t reserve = std::min<std::size_t>(64, descriptors / 4);
    return std::max<std::size_t>(1, descriptors - reserve);
}

std::string DefaultPublicBase(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

int BoundPort(evhttp_bound_socket* bound) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(evhttp_bound_socket_get_fd(bound), reinterpret_cast<sockaddr*>(&address),
                    &length) != 0)
        return 0;
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// The library turns a connection's reading and writing off and on around each reply. With the
// change list, epoll is told only the net change of each turn of the loop: two calls per request
// instead of four. The list goes wrong only for descriptors shared by dup(), which the server
// never makes.
event_base* NewEventBase() {
    event_config* config = event_config_new();
    event_config_set_flag(config, EVENT_BASE_FLAG_EPOLL_USE_CHANGELIST);
    event_base* base = event_base_new_with_config(config);
    event_config_free(config);
    return base;
}

}  // namespace

UpdateServer::UpdateServer(ServerOptions options, ReleaseFolder& folder, ReleaseCatalog& catalog,
                           FolderLook looked)
    : m_options(std::move(options)),
      m_catalog(catalog),
      m_base(NewEventBase()),
      m_http(evhttp_new(m_base)),
      m_watch(std::make_unique<FolderWatch>(m_base, m_options.poll, folder, catalog,
                                            std::move(looked), Report)) {
    if (m_options.maxConnections == 0) m_options.maxConnections = DefaultConnectionCap();
    m_connections = std::make_unique<Connections>(
        m_base,
        ConnectionLimits{m_options.requestLimit, m_options.stallLimit, m_options.maxConnections},
        Report);
    // Every method, known to the library or not, reaches Handle, which answers the ones not
    // served with 405.
    evhttp_set_allowed_methods(m_http, 0xFFFF);
    evhttp_set_max_headers_size(m_http, m_options.maxHeaderBytes);
    evhttp_set_max_body_size(m_http, 1024);
    // Silence while a request is awaited; a reply has its own time-outs (see Connections).
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_options.requestLimit);
    evhttp_set_timeout(m_http, std::max<int>(1, static_cast<int>(seconds.count())));
    evhttp_set_bevcb(m_http, Connections::NewConnection, m_connections.get());
    evhttp_set_gencb(m_http, OnRequest, this);
    if (m_options.rateLimit > 0) {
        const timeval tick{0, 100 * 1000};
        const size_t perTick = std::max<size_t>(1, m_options.rateLimit / 10);
        m_rate =
            ev_token_bucket_cfg_new(EV_RATE_LIMIT_MAX, EV_RATE_LIMIT_MAX, perTick, perTick, &tick);
    }
    // Signals are caught from here on, before anyone is told that the server listens.
    std::signal(SIGPIPE, SIG_IGN);  // a client gone mid-download is an error code, not a signal
    for (const int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
        m_signals.push_back(evsignal_new(m_base, signal, OnSignal, this));
        evsignal_add(m_signals.back(), nullptr);
    }
}

UpdateServer::~UpdateServer() {
    m_watch.reset();
    if (m_flush) event_free(m_flush);
    m_accessLog.Flush();
    m_metrics.reset();
    for (event* signal : m_signals) event_free(signal);
    // Cleaning up: a reload or a second graceful stop has nothing left to do.
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    evhttp_free(m_http);
    m_connections.reset();
    if (m_rate) ev_token_bucket_cfg_free(m_rate);
    event_base_free(m_base);
}

bool UpdateServer::Listen(std::string& error) {
    evhttp_bound_socket* bound =
        evhttp_bind_socket_with_handle(m_http, m_options.host.c_str(), m_options.port);
    if (bound == nullptr) {
        error = "cannot listen on " + m_options.host + " port " + std::to_string(m_options.port) +
                ": " + std::strerror(errno);
        return false;
    }
    // The library listens with a queue of 128 connections: a thousand clients connecting at
    // once overflow it, and the dropped ones wait a second or more to try again. nginx's queue
    // on Linux is 511; listening again only lengthens the queue.
    ::listen(evhttp_bound_socket_get_fd(bound), kListenBacklog);
    m_options.port = BoundPort(bound);
    m_connections->Watch(evhttp_bound_socket_get_listener(bound));
    if (!m_options.accessLog.empty()) {
        if (!m_accessLog.Open(m_options.accessLog, error)) return false;
        m_flush = event_new(m_base, -1, EV_PERSIST, OnFlush, this);
        const timeval second{1, 0};
        event_add(m_flush, &second);
    }
    if (!m_options.metricsHost.empty()) {
        m_metrics = std::make_unique<Metrics>(m_base, [this] { return m_connections->Open(); });
        if (!m_metrics->Listen(m_options.metricsHost, m_options.metricsPort, error)) return false;
        m_watch->published = [this](const Release& release, std::chrono::milliseconds) {
            m_metrics->Published(release.version);
        };
        m_watch->refused = [this] { m_metrics->Refused(); };
    }
    if (m_options.publicBase.empty())
        m_options.publicBase = DefaultPublicBase(m_options.host, m_options.port);
    return true;
}

std::string UpdateServer::ListenAddress() const {
    return DefaultPublicBase(m_options.host, m_options.port);
}

void UpdateServer::Run() {
    event_base_dispatch(m_base);
}

void UpdateServer::OnRequest(evhttp_request* request, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    evhttp_request_set_on_complete_cb(request, OnReplyDone, server);
    server->m_connections->ReplyStarts(request);
    // Stopping: this reply is the connection's last.
    if (server->m_connections->Draining()) AddHeader(request, "Connection", "close");
    server->Handle(request);
}

void UpdateServer::OnReplyDone(evhttp_request* request, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    server->m_connections->ReplyDone(request);
    server->m_downloads.erase(evhttp_request_get_connection(request));
    server->Record(request, evhttp_request_get_response_code(request), BodyBytes(request), true);
}

// A download's connection closed before it was sent whole (the client left, it stalled, or the
// server stops): it is recorded with the bytes the socket took, as nginx logs it.
void UpdateServer::OnConnectionClosed(evhttp_connection* connection, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    const auto found = server->m_downloads.find(connection);
    if (found == server->m_downloads.end()) return;
    const Download download = found->second;
    server->m_downloads.erase(found);
    const unsigned long long unsent =
        evbuffer_get_length(bufferevent_get_output(evhttp_connection_get_bufferevent(connection)));
    server->Record(download.request, download.status,
                   download.length - std::min(download.length, unsent), false);
}

void UpdateServer::Offer(const Release& release) {
    if (m_metrics) m_metrics->Offer(release.version);
}

void UpdateServer::OnFlush(evutil_socket_t, short, void* self) {
    static_cast<UpdateServer*>(self)->m_accessLog.Flush();
}

// A reply, sent whole or cut after `bytes` of its body: into the access log and the figures.
void UpdateServer::Record(evhttp_request* request, int status, unsigned long long bytes,
                          bool whole) {
    if (!m_accessLog.Enabled() && !m_metrics) return;
    m_accessLog.Write(request, status, bytes);
    if (!m_metrics) return;
    const std::string_view uri =
        evhttp_request_get_uri(request) ? evhttp_request_get_uri(request) : "";
    std::string endpoint = "other";
    for (const char* known : {"isweb.asp", "update.asp", "log.asp"})
        if (uri.starts_with(std::string("/freeUpdate/") + known)) endpoint = known;
    if (uri.starts_with("/download/")) {
        endpoint = "download";
        const std::string_view rest = uri.substr(10);
        if ((status == 200 || status == 206) && !IsHead(request))
            m_metrics->DownloadEnded(std::string(rest.substr(0, rest.find('/'))), bytes, whole);
    }
    m_metrics->Answered(endpoint, status);
}

void UpdateServer::OnSignal(evutil_socket_t signal, short, void* self) {
    auto* server = static_cast<UpdateServer*>(self);
    switch (signal) {
        case SIGHUP: {
            Report("SIGHUP: reading the release folder again");
            server->m_watch->Reload();
            std::string error;
            if (server->m_accessLog.Enabled() && !server->m_accessLog.Reopen(error)) Report(error);
            break;
        }
        case SIGQUIT:
            server->StopGracefully();
            break;
        default:
            event_base_loopexit(server->m_base, nullptr);
    }
}

// Accepts no more and closes idle connections at once; the loop ends when the last reply under
// way is done, or when the drain time is up.
void UpdateServer::StopGracefully() {
    if (m_connections->Draining()) return;
    Report("SIGQUIT: stopping once " + std::to_string(m_connections->Replying()) +
           " replies under way are done");
    m_watch->Stop();
    const auto ms = m_options.drain.count();
    const timeval drain{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    event_base_loopexit(m_base, &drain);
    m_connections->Drain([base = m_base] { event_base_loopexit(base, nullptr); });
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
    const HeadScanner* head = m_connections->Head(request);
    if (head && head->UnsupportedVersion())
        return SendError(request, 505, "HTTP Version Not Supported");
    if (const int fault = head && head->Folded() ? HTTP_BADREQUEST : HeadFault(request))
        return SendError(request, fault, fault == 414 ? "Request-URI Too Large" : nullptr);
    const evhttp_cmd_type method = evhttp_request_get_command(request);
    if (method != EVHTTP_REQ_GET && method != EVHTTP_REQ_HEAD) {
        AddHeader(request, "Allow", "GET, HEAD");
        return SendError(request, 405, "Not Allowed");
    }
    std::string path;
    if (!DecodedPath(request, path)) return SendError(request, HTTP_BADREQUEST, nullptr);
    const Replies& replies = CurrentReplies();
    if (path == "/freeUpdate/isweb.asp") return SendText(request, replies.check, kTextType);
    if (path == "/freeUpdate/update.asp") return HandleUpdateList(request, replies);
    if (path == "/freeUpdate/log.asp") return SendText(request, replies.notesPage, kPageType);
    if (path.starts_with("/download/"))
        if (ReleasePtr release = m_catalog.Find(path.substr(1)))
            return SendProgram(request, *release);
    SendError(request, HTTP_NOTFOUND, nullptr);
}

void UpdateServer::HandleUpdateList(evhttp_request* request, const Replies& replies) {
    const char* query = evhttp_uri_get_query(evhttp_request_get_evhttp_uri(request));
    evkeyvalq fields{};
    const char* action = nullptr;
    if (query != nullptr && evhttp_parse_query_str(query, &fields) == 0)
        action = evhttp_find_header(&fields, "action");
    const std::string which = action ? action : "";
    evhttp_clear_headers(&fields);
    if (which == "Auto") return SendText(request, replies.autoList, kTextType);
    if (which == "Hand") return SendText(request, replies.manual, kTextType);
    SendError(request, HTTP_BADREQUEST, nullptr);
}

// Protocol replies change with every release: nothing on the way may keep them.
void UpdateServer::SendText(evhttp_request* request, const std::string& body, const char* type) {
    AddHeader(request, "Content-Type", type);
    AddHeader(request, "Cache-Control", "no-cache, no-store, must-revalidate");
    AddHeader(request, "Pragma", "no-cache");
    AddHeader(request, "Expires", "0");
    AddHeader(request, "Content-Length", std::to_string(body.size()));
    evbuffer* content = evbuffer_new();
    if (!IsHead(request)) evbuffer_add(content, body.data(), body.size());
    evhttp_send_reply(request, HTTP_OK, "OK", content);
    evbuffer_free(content);
}

// The program as it was checked, never with a Content-Encoding: installed updaters ask for gzip
// and write whatever arrives.
void UpdateServer::SendProgram(evhttp_request* request, const Release& release) {
    const FilePart part =
        DecideFilePart({Header(request, "Range"), Header(request, "If-Range"),
                        Header(request, "If-None-Match"), Header(request, "If-Modified-Since"),
                        Header(request, "If-Match"), Header(request, "If-Unmodified-Since")},
                       {release.etag, release.modified, release.size});
    AddHeader(request, "ETag", release.etag);
    AddHeader(request, "Last-Modified", HttpDate(release.modified));
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
            AddHeader(request, "Content-Range", "bytes */" + std::to_string(release.size));
            AddHeader(request, "Content-Length", "0");
            return evhttp_send_reply(request, 416, "Range Not Satisfiable", nullptr);
        case FilePart::Partial:
            status = 206;
            reason = "Partial Content";
            AddHeader(request, "Content-Range",
                      "bytes " + std::to_string(part.first) + "-" +
                          std::to_string(part.first + part.length - 1) + "/" +
                          std::to_string(release.size));
            break;
        case FilePart::Whole:
            break;
    }
    AddHeader(request, "Content-Length", std::to_string(part.length));
    if (IsHead(request) || part.length == 0) {
        return evhttp_send_reply(request, status, reason, nullptr);
    }
    m_connections->LongReply(request);
    if (m_metrics) m_metrics->DownloadStarted(release.version);
    if (m_rate)
        bufferevent_set_rate_limit(
            evhttp_connection_get_bufferevent(evhttp_request_get_connection(request)), m_rate);
    evbuffer* content = evbuffer_new();
    // The release's one open file goes out with sendfile, so memory does not grow with it: the
    // buffer must say that it ends in a socket before the segment is added, or the file is
    // mapped instead. A rate-limited download (a demonstration's) is sent from that mapping,
    // made once for all of them: sendfile would pass the connection's rate limit by.
    if (!m_rate) evbuffer_set_flags(content, EVBUFFER_FLAG_DRAINS_TO_FD);
    if (evbuffer_add_file_segment(content, release.file->Segment(),
                                  static_cast<ev_off_t>(part.first),
                                  static_cast<ev_off_t>(part.length)) != 0) {
        evbuffer_free(content);
        // No memory to map it for now: the program is still there, the client should come back.
        AddHeader(request, "Retry-After", "1");
        return SendError(request, HTTP_SERVUNAVAIL, "Service Unavailable");
    }
    evhttp_connection* connection = evhttp_request_get_connection(request);
    m_downloads[connection] = {request, status, part.length};
    evhttp_connection_set_closecb(connection, OnConnectionClosed, this);
    evhttp_send_reply(request, status, reason, content);
    evbuffer_free(content);
}

}  // namespace vendor
