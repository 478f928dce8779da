// Keeps account of the clients' connections on every listener (the updaters' and the metrics'),
// which the HTTP library does not: the deadline of each request, the time-outs of a reply, how
// many are open (against a cap below the descriptor limit), which are sending a reply, for a
// graceful stop, and what each request head showed (HeadScanner). While a reply is under way
// a connection buffers at most about one head of what its client sends next.
//
// Reading a request has a deadline from the connection's start or the end of the reply before:
// the library's own time-out only measures silence, so a client dripping one byte at a time
// would hold its connection for ever. A reply has none: it goes on while the socket takes bytes,
// and only a stall (no byte taken for a while) ends it.
#pragma once

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/http.h>
#include <event2/listener.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "HeadScanner.h"

namespace vendor {

struct ConnectionLimits {
    std::chrono::milliseconds request{10000};  // to deliver a whole request
    std::chrono::seconds stall{60};            // a reply whose socket takes no byte this long
    std::size_t cap = 1000;                    // open connections at most
    std::size_t buffered = 16384;              // input held per connection at most
};

// The address of a connection's client ("127.0.0.1"), or "-".
std::string PeerOf(bufferevent* connection);

class Connections {
public:
    using Clock = std::chrono::steady_clock;
    using Report = std::function<void(const std::string&)>;
    // A request the library answered itself (it refused the head): its status and body size.
    using Refused = std::function<void(bufferevent* connection, const ScannedHead& head, int status,
                                       unsigned long long bytes)>;

    Connections(event_base* base, ConnectionLimits limits, Report report, Refused refused);
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Makes the connection object of a newly accepted client (for evhttp_set_bevcb).
    static bufferevent* NewConnection(event_base* base, void* self);
    // A listener to pause at the cap and after failed accepts.
    void Watch(evconnlistener* listener);

    // The request has arrived whole: its reply starts, without a deadline.
    void ReplyStarts(evhttp_request* request);
    // The reply is a long one (a download): the silence of the client does not end it, only a
    // stall of its socket does.
    void LongReply(evhttp_request* request);
    // The reply has gone out: the next request's deadline starts.
    void ReplyDone(evhttp_request* request);
    // Stops accepting, closes idle connections, and calls `drained` once no reply is under way
    // (at once when none is).
    void Drain(std::function<void()> drained);

    // The head of this request as its client sent it, or nullptr.
    const ScannedHead* Head(evhttp_request* request) const;
    // The reply ends the connection, whatever the library makes of it: what the client sent
    // after the request is not read.
    void CloseAfterReply(evhttp_request* request);

    std::size_t Open() const { return m_open.size(); }
    std::size_t Replying() const;
    bool Draining() const { return static_cast<bool>(m_drained); }

private:
    struct State {
        Connections* owner = nullptr;
        bufferevent* connection = nullptr;
        Clock::time_point deadline;
        bool replying = false;
        bool longReply = false;  // time-outs set for a download, set back after it
        bool closing = false;
        int refusal = 0;  // the status of the library's own reply being written
        unsigned long long refusalBytes = 0;
        HeadScanner head;
        evbuffer_cb_entry* watching = nullptr;
        evbuffer_cb_entry* replies = nullptr;
    };
    static void Arrived(evbuffer* input, const evbuffer_cb_info* info, void* state);
    static void Written(evbuffer* output, const evbuffer_cb_info* info, void* state);
    static void Sweep(evutil_socket_t, short, void* self);
    static void AcceptFailed(evconnlistener* listener, void* self);
    void Forget(bufferevent* connection);
    void ListenIfRoom();
    void Pause();
    void CloseIdle();

    ConnectionLimits m_limits;
    Report m_report;
    event* m_sweep;
    Refused m_refused;
    std::vector<evconnlistener*> m_listeners;
    bool m_listening = true;
    Clock::time_point m_acceptAgain{};
    Clock::time_point m_lastAcceptReport{};
    unsigned m_failedAccepts = 0;
    std::function<void()> m_drained;
    // Each connection here is held (bufferevent_incref) so that its address stays ours; the
    // library clears a connection's callbacks when it lets go of it, and its descriptor closes
    // when it is forgotten here.
    std::unordered_map<bufferevent*, State> m_open;
};

}  // namespace vendor
