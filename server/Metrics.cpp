#include "Metrics.h"

#include <event2/http.h>
#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <string_view>

#include "ErrorPage.h"
#include "HttpReply.h"

namespace vendor {

namespace {

template <typename Builder>
auto& Family(Builder builder, prometheus::Registry& registry, const char* name, const char* help) {
    return builder.Name(name).Help(help).Register(registry);
}

}  // namespace

struct Metrics::Families {
    explicit Families(prometheus::Registry& registry)
        : requests(Family(prometheus::BuildCounter(), registry, "update_server_requests_total",
                          "Requests answered, by endpoint and status")),
          started(Family(prometheus::BuildCounter(), registry,
                         "update_server_downloads_started_total",
                         "Downloads of a program started, by release version")),
          completed(Family(prometheus::BuildCounter(), registry,
                           "update_server_downloads_completed_total",
                           "Downloads of a program sent to the end, by release version")),
          bytes(Family(prometheus::BuildCounter(), registry,
                       "update_server_download_bytes_sent_total",
                       "Bytes of programs sent, cut downloads too, by release version")),
          open(Family(prometheus::BuildGauge(), registry, "update_server_open_connections",
                      "Client connections open now")),
          publishes(Family(prometheus::BuildCounter(), registry, "update_server_publishes_total",
                           "Releases taken from the release folder while serving")),
          refused(Family(prometheus::BuildCounter(), registry,
                         "update_server_publishes_refused_total",
                         "Changes of the release folder that were not taken")),
          offered(Family(prometheus::BuildGauge(), registry, "update_server_offered_release",
                         "1 for the version on offer")),
          offers(Family(prometheus::BuildCounter(), registry, "update_server_offers_total",
                        "Update records offered, by version and by in or out of the rollout")) {}
    prometheus::Family<prometheus::Counter>& requests;
    prometheus::Family<prometheus::Counter>& started;
    prometheus::Family<prometheus::Counter>& completed;
    prometheus::Family<prometheus::Counter>& bytes;
    prometheus::Family<prometheus::Gauge>& open;
    prometheus::Family<prometheus::Counter>& publishes;
    prometheus::Family<prometheus::Counter>& refused;
    prometheus::Family<prometheus::Gauge>& offered;
    prometheus::Family<prometheus::Counter>& offers;
};

Metrics::Metrics(std::function<std::size_t()> openConnections)
    : m_registry(std::make_shared<prometheus::Registry>()),
      m_families(std::make_unique<Families>(*m_registry)),
      m_openConnections(std::move(openConnections)) {
    m_families->publishes.Add({});  // shown at 0 from the start
    m_families->refused.Add({});
}

Metrics::~Metrics() = default;

void Metrics::Answered(const std::string& endpoint, int status) {
    m_families->requests.Add({{"endpoint", endpoint}, {"status", std::to_string(status)}})
        .Increment();
}

void Metrics::DownloadStarted(const std::string& version) {
    m_families->started.Add({{"version", version}}).Increment();
}

void Metrics::DownloadEnded(const std::string& version, std::uint64_t bytes, bool whole) {
    if (whole) m_families->completed.Add({{"version", version}}).Increment();
    m_families->bytes.Add({{"version", version}}).Increment(static_cast<double>(bytes));
}

void Metrics::Offer(const std::string& version) {
    if (!m_offered.empty())
        m_families->offered.Remove(&m_families->offered.Add({{"version", m_offered}}));
    m_families->offered.Add({{"version", version}}).Set(1);
    m_offered = version;
}

void Metrics::Published(const std::string& version) {
    m_families->publishes.Add({}).Increment();
    Offer(version);
}

void Metrics::Refused() {
    m_families->refused.Add({}).Increment();
}

void Metrics::Offered(const std::string& version, bool inRollout) {
    m_families->offers.Add({{"version", version}, {"rollout", inRollout ? "in" : "out"}})
        .Increment();
}

void Metrics::Serve(evhttp_request* request) {
    const char* path = evhttp_uri_get_path(evhttp_request_get_evhttp_uri(request));
    if (path == nullptr || std::string_view(path) != "/metrics") return SendError(request, 404);
    m_families->open.Add({}).Set(static_cast<double>(m_openConnections()));
    const std::string text = prometheus::TextSerializer().Serialize(m_registry->Collect());
    AddHeader(request, "Content-Type", "text/plain; version=0.0.4; charset=utf-8");
    AddHeader(request, "Content-Length", std::to_string(text.size()));
    if (!SendBody(request, 200, "OK", text)) SendError(request, 503, "Service Unavailable");
}

}  // namespace vendor
