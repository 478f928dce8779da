#include "UpdateServer.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
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

namespace vendor {

namespace {

void Report(const std::string& text) {
    std::fprintf(stderr, "update-server: %s\n", text.c_str());
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
                                            std::move(looked), Report)),
      m_downloads([this](const CutDownloads::Download& download, unsigned long long sent) {
          Record(download.request, download.head, download.peer, download.status, sent, false,
                 download.version);
      }) {
    if (m_options.maxConnections == 0) m_options.maxConnections = DefaultConnectionCap();
    m_connections = std::make_unique<Connections>(
        m_base,
        ConnectionLimits{m_options.requestLimit, m_options.stallLimit, m_options.maxConnections,
                         static_cast<std::size_t>(m_options.maxHeaderBytes) + 1024},
        Report,
        [this](bufferevent* connection, const ScannedHead& head, int status,
               unsigned long long bytes) {
            Record(nullptr, head, PeerOf(connection), status, bytes, true, {});
        });
    Configure(m_http, OnRequest);
    // Every method, known to the library or not, reaches Handle, which answers the ones not
    // served with 405.
    evhttp_set_allowed_methods(m_http, 0xFFFF);
    if (m_options.rateLimit > 0) {
        const timeval tick{0, 100 * 1000};
        const size_t perTick = std::max<size_t>(1, m_options.rateLimit / 10);
        m_rate =
            ev_token_bucket_cfg_new(EV_RATE_LIMIT_MAX, EV_RATE_LIMIT_MAX, perTick, perTick, &tick);
    }
    // Signals are caught from here on, before anyone is told that the server listens.
    std::signal(SIGPIPE, SIG_IGN);  // a client gone mid-download is an error code, not a signal
    for (const int signal : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
        event* watch = evsignal_new(m_base, signal, OnSignal, this);
        if (watch == nullptr || evsignal_add(watch, nullptr) != 0) {
            m_setupError = "cannot watch signal " + std::to_string(signal);
            if (watch) event_free(watch);
            continue;
        }
        m_signals.push_back(watch);
    }
}

UpdateServer::~UpdateServer() {
    m_watch.reset();
    if (m_flush) event_free(m_flush);
    m_accessLog.Flush();
    for (event* signal : m_signals) event_free(signal);
    // Cleaning up: a reload or a second graceful stop has nothing left to do.
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGQUIT, SIG_IGN);
    if (m_metricsHttp) evhttp_free(m_metricsHttp);
    evhttp_free(m_http);
    m_metrics.reset();
    m_connections.reset();
    if (m_rate) ev_token_bucket_cfg_free(m_rate);
    event_base_free(m_base);
}

// Both listeners' connections are made and timed by Connections, under one cap.
void UpdateServer::Configure(evhttp* http, void (*onRequest)(evhttp_request*, void*)) {
    evhttp_set_max_headers_size(http, m_options.maxHeaderBytes);
    evhttp_set_max_body_size(http, 1024);
    // Silence while a request is awaited; a reply has its own time-outs (see Connections).
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_options.requestLimit);
    evhttp_set_timeout(http, static_cast<int>(std::clamp<long long>(seconds.count(), 1, 86400)));
    evhttp_set_bevcb(http, Connections::NewConnection, m_connections.get());
    evhttp_set_gencb(http, onRequest, this);
}

evhttp_bound_socket* UpdateServer::Bind(evhttp* http, const std::string& host, int port,
                                        std::string& error) {
    evhttp_bound_socket* bound = evhttp_bind_socket_with_handle(http, host.c_str(), port);
    if (bound == nullptr) {
        error = "cannot listen on " + host + " port " + std::to_string(port) + ": " +
                std::strerror(errno);
        return nullptr;
    }
    // The library listens with a queue of 128 connections: a thousand clients connecting at
    // once overflow it, and the dropped ones wait a second or more to try again. nginx's queue
    // on Linux is 511; listening again only lengthens the queue.
    ::listen(evhttp_bound_socket_get_fd(bound), kListenBacklog);
    m_connections->Watch(evhttp_bound_socket_get_listener(bound));
    m_bound.emplace_back(http, bound);
    return bound;
}

bool UpdateServer::Listen(std::string& error) {
    if (m_base == nullptr || m_http == nullptr) m_setupError = "cannot make the event loop";
    if (!m_setupError.empty()) {
        error = m_setupError;
        return false;
    }
    evhttp_bound_socket* bound = Bind(m_http, m_options.host, m_options.port, error);
    if (bound == nullptr) return false;
    m_options.port = BoundPort(bound);
    if (!m_options.accessLog.empty()) {
        if (!m_accessLog.Open(m_options.accessLog, error)) return false;
        m_flush = event_new(m_base, -1, EV_PERSIST, OnFlush, this);
        const timeval second{1, 0};
        if (m_flush == nullptr || event_add(m_flush, &second) != 0) {
            error = "cannot flush the access log";
            return false;
        }
    }
    if (!m_options.metricsHost.empty()) {
        m_metrics = std::make_unique<Metrics>([this] { return m_connections->Open(); });
        m_metricsHttp = evhttp_new(m_base);
        if (m_metricsHttp == nullptr) {
            error = "cannot serve the metrics";
            return false;
        }
        Configure(m_metricsHttp, OnMetricsRequest);
        evhttp_set_allowed_methods(m_metricsHttp, EVHTTP_REQ_GET | EVHTTP_REQ_HEAD);
        bound = Bind(m_metricsHttp, m_options.metricsHost, m_options.metricsPort, error);
        if (bound == nullptr) {
            error = "metrics: " + error;
            return false;
        }
        m_metricsPort = BoundPort(bound);
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

void UpdateServer::Offer(const Release& release) {
    if (m_metrics) m_metrics->Offer(release.version);
}

void UpdateServer::OnFlush(evutil_socket_t, short, void* self) {
    static_cast<UpdateServer*>(self)->m_accessLog.Flush();
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

// Closes the listening sockets at once (new clients are refused, and a successor can bind the
// port) and the idle connections; the loop ends when the last reply under way is done, or when
// the drain time is up.
void UpdateServer::StopGracefully() {
    if (m_connections->Draining()) return;
    Report("SIGQUIT: stopping once " + std::to_string(m_connections->Replying()) +
           " replies under way are done");
    m_watch->Stop();
    const auto ms = m_options.drain.count();
    const timeval drain{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    event_base_loopexit(m_base, &drain);
    m_connections->Drain([base = m_base] { event_base_loopexit(base, nullptr); });
    for (const auto& [http, bound] : m_bound) evhttp_del_accept_socket(http, bound);
    m_bound.clear();
}

}  // namespace vendor
