// The update server: the protocol's replies and the programs of the releases in the catalog,
// over libevent's HTTP server on one event loop, and the metrics on an address of their own;
// both listeners share one way of accepting, capping and timing connections. SIGINT and SIGTERM
// stop it at once, SIGQUIT closes the listening sockets and stops once the downloads under way
// are done (within the drain time), SIGHUP reads the release folder again.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FolderWatch.h"
#include "Replies.h"
#include "AccessLog.h"
#include "Connections.h"
#include "CutDownloads.h"
#include "Metrics.h"

struct event;
struct event_base;
struct evhttp;
struct evhttp_bound_socket;
struct evhttp_request;
struct ev_token_bucket_cfg;

namespace vendor {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8080;                                // 0: any free port
    std::string publicBase;                         // empty: http://host:port/
    std::chrono::milliseconds requestLimit{10000};  // to deliver a request; silence allowed
    std::chrono::seconds stallLimit{60};     // a reply whose client takes no byte this long ends
    std::size_t maxConnections = 0;          // 0: derived from the descriptor limit
    std::chrono::milliseconds drain{30000};  // SIGQUIT's wait for downloads under way
    std::string accessLog;                   // a file, "-" for standard output, empty for none
    std::string metricsHost;                 // empty: no metrics
    int metricsPort = 0;
    std::int64_t maxHeaderBytes = 8192;
    std::uint64_t rateLimit = 0;  // bytes per second per download; 0 for none
    std::chrono::milliseconds poll{1000};
};

class UpdateServer {
public:
    UpdateServer(ServerOptions options, ReleaseFolder& folder, ReleaseCatalog& catalog,
                 FolderLook looked);
    ~UpdateServer();
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    // Binds the listening sockets and opens the access log; false with `error` set when it
    // cannot.
    bool Listen(std::string& error);
    // The metrics' port once listening (0: none).
    int MetricsPort() const { return m_metricsPort; }
    // The release served from the start.
    void Offer(const Release& release);
    const std::string& PublicBase() const { return m_options.publicBase; }
    // Where it listens, as an address: "http://127.0.0.1:8080/".
    std::string ListenAddress() const;
    // Serves until SIGINT or SIGTERM, or until drained after SIGQUIT.
    void Run();

private:
    // Event loop, signals, listeners (UpdateServer.cpp).
    void Configure(evhttp* http, void (*onRequest)(evhttp_request*, void*));
    evhttp_bound_socket* Bind(evhttp* http, const std::string& host, int port, std::string& error);
    static void OnSignal(evutil_socket_t signal, short, void* self);
    static void OnFlush(evutil_socket_t, short, void* self);
    void StopGracefully();

    // Routing and accounting of requests (RequestRouting.cpp).
    static void OnRequest(evhttp_request* request, void* self);
    static void OnMetricsRequest(evhttp_request* request, void* self);
    static void OnReplyDone(evhttp_request* request, void* self);
    static void OnMetricsReplyDone(evhttp_request* request, void* self);
    void Handle(evhttp_request* request);
    void HandleUpdateList(evhttp_request* request, const Replies& replies);
    void SendUpdateList(evhttp_request* request, const Replies& replies);
    void Refuse(evhttp_request* request, int status, const char* reason = nullptr);
    const Replies& CurrentReplies();
    // A reply, sent whole or cut after `bytes` of its body: into the access log and the
    // figures. `request` is nullptr for one the library refused; `version` names the release
    // of a download.
    void Record(evhttp_request* request, const ScannedHead& head, const std::string& peer,
                int status, unsigned long long bytes, bool whole, const std::string& version);

    // The reply of a program or a patch (ProgramReply.cpp): bytes of a checked copy.
    // `version` counts a program's download in the metrics; a patch's (empty) is counted by
    // its route only.
    void SendProgram(evhttp_request* request, const ProgramFile& file, const std::string& etag,
                     std::time_t modified, const std::string& version);

    ServerOptions m_options;
    ReleaseCatalog& m_catalog;
    std::string m_setupError;
    event_base* m_base;
    evhttp* m_http;
    evhttp* m_metricsHttp = nullptr;
    std::vector<std::pair<evhttp*, evhttp_bound_socket*>> m_bound;
    int m_metricsPort = 0;
    std::unique_ptr<FolderWatch> m_watch;
    std::unique_ptr<Connections> m_connections;
    ev_token_bucket_cfg* m_rate = nullptr;
    std::vector<event*> m_signals;
    AccessLog m_accessLog;
    std::unique_ptr<Metrics> m_metrics;
    event* m_flush = nullptr;
    CutDownloads m_downloads;
    ReleasePtr m_repliesFor;
    Replies m_replies;
};

}  // namespace vendor
