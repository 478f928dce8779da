#include "RequestDeadline.h"

#include <sys/socket.h>

#include <vector>

namespace vendor {

namespace {

bool DroppedByLibrary(bufferevent* connection) {
    bufferevent_data_cb reading = nullptr, writing = nullptr;
    bufferevent_event_cb events = nullptr;
    bufferevent_getcb(connection, &reading, &writing, &events, nullptr);
    return reading == nullptr && writing == nullptr && events == nullptr;
}

}  // namespace

RequestDeadline::RequestDeadline(event_base* base, std::chrono::milliseconds limit)
    : m_limit(limit), m_sweep(event_new(base, -1, EV_PERSIST, Sweep, this)) {
    const timeval period{0, 100 * 1000};
    event_add(m_sweep, &period);
}

RequestDeadline::~RequestDeadline() {
    event_free(m_sweep);
    while (!m_pending.empty()) Release(m_pending.begin()->first);
}

bufferevent* RequestDeadline::NewConnection(event_base* base, void* self) {
    auto* owner = static_cast<RequestDeadline*>(self);
    bufferevent* connection = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
    if (connection != nullptr) {
        bufferevent_incref(connection);
        owner->m_pending.emplace(connection, Clock::now());
    }
    return connection;
}

void RequestDeadline::Arrived(evhttp_request* request) {
    evhttp_connection* connection = evhttp_request_get_connection(request);
    if (connection == nullptr) return;
    bufferevent* events = evhttp_connection_get_bufferevent(connection);
    if (m_pending.contains(events)) Release(events);
}

void RequestDeadline::Sweep(evutil_socket_t, short, void* self) {
    auto* owner = static_cast<RequestDeadline*>(self);
    const Clock::time_point now = Clock::now();
    std::vector<bufferevent*> done;
    for (const auto& [connection, accepted] : owner->m_pending) {
        if (DroppedByLibrary(connection)) {
            done.push_back(connection);
        } else if (now - accepted > owner->m_limit) {
            // The library sees the end of the stream and drops the connection its own way,
            // whatever state its parser is in.
            const evutil_socket_t socket = bufferevent_getfd(connection);
            if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
            done.push_back(connection);
        }
    }
    for (bufferevent* connection : done) owner->Release(connection);
}

void RequestDeadline::Release(bufferevent* connection) {
    m_pending.erase(connection);
    bufferevent_decref(connection);
}

}  // namespace vendor
