// Figures for the vendor's monitoring, in Prometheus's text format on an address of their own
// (--metrics-listen): requests by endpoint and status, downloads started and completed and bytes
// sent by release version, open connections, publishes and refused publishes, the version on
// offer, and the records offered by version and by in or out of the rollout. The server listens for
// it and hands it the requests of that address.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct evhttp_request;

namespace prometheus {
class Registry;
}

namespace vendor {

class Metrics {
public:
    // `openConnections` is asked at each scrape.
    explicit Metrics(std::function<std::size_t()> openConnections);
    ~Metrics();
    Metrics(const Metrics&) = delete;
    Metrics& operator=(const Metrics&) = delete;

    // Answers a request of the metrics' address: the page at /metrics, 404 elsewhere.
    void Serve(evhttp_request* request);

    void Answered(const std::string& endpoint, int status);
    void DownloadStarted(const std::string& version);
    // A download sent to the end (`whole`), or cut after `bytes`.
    void DownloadEnded(const std::string& version, std::uint64_t bytes, bool whole);
    // The version on offer from the start, and each one published after.
    void Offer(const std::string& version);
    void Published(const std::string& version);
    void Refused();
    // An update record offered: of `version` ("none": no update), inside the rollout or not.
    void Offered(const std::string& version, bool inRollout);

private:
    struct Families;

    std::shared_ptr<prometheus::Registry> m_registry;
    std::unique_ptr<Families> m_families;
    std::function<std::size_t()> m_openConnections;
    std::string m_offered;
};

}  // namespace vendor
