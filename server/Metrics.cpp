#include "Metrics.h"

#include <event2/buffer.h>
#include <event2/http.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <cerrno>
#include <cstring>

namespace vendor {

struct Metrics::Families {
    explicit Families(prometheus::Registry& registry)
        : requests(prometheus::BuildCounter()
                       .Name("update_server_requests_total")
                       .Help("Requests answered, by endpoint and status")
                       .Register(registry)),
          started(prometheus::BuildCounter()
                      .Name("update_server_downloads_started_total")
                      .Help("Downloads of a program started, by release version")
                      .Register(registry)),
          completed(prometheus::BuildCounter()
                        .Name("update_server_downloads_completed_total")
                        .Help("Downloads of a program sent to the end, by release version")
                        .Register(registry)),
          bytes(prometheus::BuildCounter()
                    .Name("update_server_download_bytes_sent_total")
                    .Help("Bytes of programs sent, cut downloads too, by release version")
                    .Register(registry)),
          open(prometheus::BuildGauge()
                   .Name("update_server_open_connections")
                   .Help("Client connections open now")
                   .Register(registry)),
          publishes(prometheus::BuildCounter()
                        .Name("update_server_publishes_total")
                        .Help("Releases taken from the release folder while serving")
                        .Register(registry)),
          refused(prometheus::BuildCounter()
                      .Name("update_server_publishes_refused_total")
                      .Help("Changes of the release folder that were not taken")
                      .Register(registry)),
          offered(prometheus::BuildGauge()
                      .Name("update_server_offered_release")
                      .Help("1 for the version on offer")
                      .Register(registry)) {}
    prometheus::Family<prometheus::Counter>& requests;
    prometheus::Family<prometheus::Counter>& started;
    prometheus::Family<prometheus::Counter>& completed;
    prometheus::Family<prometheus::Counter>& bytes;
    prometheus::Family<prometheus::Gauge>& open;
    prometheus::Family<prometheus::Counter>& publishes;
    prometheus::Family<prometheus::Counter>& refused;
    prometheus::Family<prometheus::Gauge>& offered;
};

Metrics::Metrics(event_base* base, std::function<std::size_t()> openConnections)
    : m_registry(std::make_shared<prometheus::Registry>()),
      m_families(std::make_unique<Families>(*m_registry)),
      m_openConnections(std::move(openConnections)),
      m_http(evhttp_new(base)) {
    evhttp_set_allowed_methods(m_http, EVHTTP_REQ_GET | EVHTTP_REQ_HEAD);
    evhttp_set_timeout(m_http, 10);
    evhttp_set_cb(m_http, "/metrics", OnScrape, this);
    m_families->publishes.Add({});  // shown at 0 from the start
    m_families->refused.Add({});
}

Metrics::~Metrics() {
    evhttp_free(m_http);
}

bool Metrics::Listen(const std::string& host, int port, std::string& error) {
    evhttp_bound_socket* bound = evhttp_bind_socket_with_handle(m_http, host.c_str(), port);
    if (bound == nullptr) {
        error = "cannot listen for metrics on " + host + " port " + std::to_string(port) + ": " +
                std::strerror(errno);
        return false;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(evhttp_bound_socket_get_fd(bound), reinterpret_cast<sockaddr*>(&address), &length);
    m_port =
        ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return true;
}

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

void Metrics::OnScrape(evhttp_request* request, void* self) {
    auto* metrics = static_cast<Metrics*>(self);
    metrics->m_families->open.Add({}).Set(static_cast<double>(metrics->m_openConnections()));
    const std::string text = prometheus::TextSerializer().Serialize(metrics->m_registry->Collect());
    evhttp_add_header(evhttp_request_get_output_headers(request), "Content-Type",
                      "text/plain; version=0.0.4; charset=utf-8");
    evbuffer* body = evbuffer_new();
    evbuffer_add(body, text.data(), text.size());
    evhttp_send_reply(request, 200, "OK", body);
    evbuffer_free(body);
}

}  // namespace vendor
