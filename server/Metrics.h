// Figures for the vendor's monitoring, in Prometheus's text format on an address of their own
// (--metrics-listen): requests by endpoint and status, downloads started and completed and bytes
// sent by release version, open connections, publishes and refused publishes, the version on
// offer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct event_base;
struct evhttp;
struct evhttp_request;

namespace prometheus {
class Registry;
}

namespace vendor {

class Metrics {
public:
    // `openConnections` is asked at each scrape.
    Metrics(event_base* base, std::function<std::size_t()> openConnections);
    ~Metrics();
    Metrics(const Metrics&) = delete;
    Metrics& operator=(const Metrics&) = delete;

    // Serves GET /metrics at host:port; false with `error` set.
    bool Listen(const std::string& host, int port, std::string& error);
    int Port() const { return m_port; }

    void Answered(const std::string& endpoint, int status);
    void DownloadStarted(const std::string& version);
    // A download sent to the end (`whole`), or cut after `bytes`.
    void DownloadEnded(const std::string& version, std::uint64_t bytes, bool whole);
    // The version on offer from the start, and each one published after.
    void Offer(const std::string& version);
    void Published(const std::string& version);
    void Refused();

private:
    struct Families;
    static void OnScrape(evhttp_request* request, void* self);

    std::shared_ptr<prometheus::Registry> m_registry;
    std::unique_ptr<Families> m_families;
    std::function<std::size_t()> m_openConnections;
    evhttp* m_http;
    int m_port = 0;
    std::string m_offered;
};

}  // namespace vendor
