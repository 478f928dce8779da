// The update server: the protocol's replies and the programs of the releases in the catalog,
// over libevent's HTTP server on one event loop. SIGINT and SIGTERM stop it at once, SIGQUIT
// once the downloads under way are done (within the drain time), SIGHUP reads the release folder
// again.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "FolderWatch.h"
#include "Replies.h"
#include "AccessLog.h"
#include "Connections.h"
#include "Metrics.h"

struct event;
struct event_base;
struct evhttp;
struct evhttp_connection;
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
    int MetricsPort() const { return m_metrics ? m_metrics->Port() : 0; }
    // The release served from the start.
    void Offer(const Release& release);
    const std::string& PublicBase() const { return m_options.publicBase; }
    // Where it listens, as an address: "http://127.0.0.1:8080/".
    std::string ListenAddress() const;
    // Serves until SIGINT or SIGTERM, or until drained after SIGQUIT.
    void Run();

private:
    static void OnRequest(evhttp_request* request, void* self);
    static void OnReplyDone(evhttp_request* request, void* self);
    static void OnSignal(evutil_socket_t signal, short, void* self);
    static void OnFlush(evutil_socket_t, short, void* self);
    static void OnConnectionClosed(evhttp_connection* connection, void* self);
    void Record(evhttp_request* request, int status, unsigned long long bytes, bool whole);
    void Handle(evhttp_request* request);
    void StopGracefully();
    void HandleUpdateList(evhttp_request* request, const Replies& replies);
    void SendText(evhttp_request* request, const std::string& body, const char* type);
    void SendProgram(evhttp_request* request, const Release& release);
    const Replies& CurrentReplies();

    ServerOptions m_options;
    ReleaseCatalog& m_catalog;
    event_base* m_base;
    evhttp* m_http;
    std::unique_ptr<FolderWatch> m_watch;
    std::unique_ptr<Connections> m_connections;
    ev_token_bucket_cfg* m_rate = nullptr;
    std::vector<event*> m_signals;
    AccessLog m_accessLog;
    std::unique_ptr<Metrics> m_metrics;
    event* m_flush = nullptr;
    // Downloads being sent, by connection: one that closes first was cut. The library sets
    // another status on a request whose connection fails, so its own is kept here.
    struct Download {
        evhttp_request* request;
        int status;
        unsigned long long length;
    };
    std::unordered_map<evhttp_connection*, Download> m_downloads;
    ReleasePtr m_repliesFor;
    Replies m_replies;
};

}  // namespace vendor
