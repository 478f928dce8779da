// Cuts off connections that do not deliver a whole request in time. The HTTP library's own
// time-out only measures silence, so a client dripping one header byte at a time would hold
// its connection for ever; this gives each new connection one deadline for its first request.
// Later requests on a kept-alive connection are covered by the library's silence time-out.
#pragma once

#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>

#include <chrono>
#include <unordered_map>

namespace vendor {

class RequestDeadline {
public:
    using Clock = std::chrono::steady_clock;

    RequestDeadline(event_base* base, std::chrono::milliseconds limit);
    ~RequestDeadline();
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;

    // Makes the connection object of a newly accepted client (for evhttp_set_bevcb).
    static bufferevent* NewConnection(event_base* base, void* self);
    // The request has arrived whole: its connection has met the deadline.
    void Arrived(evhttp_request* request);

private:
    static void Sweep(evutil_socket_t, short, void* self);
    void Release(bufferevent* connection);

    std::chrono::milliseconds m_limit;
    event* m_sweep;
    // Each connection here is held (bufferevent_incref) so that its address stays ours; the
    // library clears a connection's callbacks when it lets go of it.
    std::unordered_map<bufferevent*, Clock::time_point> m_pending;
};

}  // namespace vendor
