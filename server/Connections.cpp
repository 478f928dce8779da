#include "Connections.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace vendor {

namespace {

// The listener's error callback gets the HTTP library's argument, not ours.
Connections* g_watching = nullptr;

bool DroppedByLibrary(bufferevent* connection) {
    bufferevent_data_cb reading = nullptr, writing = nullptr;
    bufferevent_event_cb events = nullptr;
    bufferevent_getcb(connection, &reading, &writing, &events, nullptr);
    return reading == nullptr && writing == nullptr && events == nullptr;
}

bufferevent* ConnectionOf(evhttp_request* request) {
    evhttp_connection* connection = evhttp_request_get_connection(request);
    return connection == nullptr ? nullptr : evhttp_connection_get_bufferevent(connection);
}

timeval Interval(std::chrono::milliseconds span) {
    return {static_cast<time_t>(span.count() / 1000),
            static_cast<suseconds_t>(span.count() % 1000 * 1000)};
}

// The library sees the end of the stream and drops the connection its own way, whatever state
// its parser is in.
void CutOff(bufferevent* connection) {
    const evutil_socket_t socket = bufferevent_getfd(connection);
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

constexpr std::chrono::milliseconds kAcceptPause{100};

}  // namespace

Connections::Connections(event_base* base, ConnectionLimits limits, Report report)
    : m_limits(limits),
      m_report(std::move(report)),
      m_sweep(event_new(base, -1, EV_PERSIST, Sweep, this)) {
    const timeval period{0, 100 * 1000};
    event_add(m_sweep, &period);
}

Connections::~Connections() {
    if (g_watching == this) g_watching = nullptr;
    event_free(m_sweep);
    while (!m_open.empty()) Forget(m_open.begin()->first);
}

bufferevent* Connections::NewConnection(event_base* base, void* self) {
    auto* owner = static_cast<Connections*>(self);
    bufferevent* connection = bufferevent_socket_new(base, -1, BEV_OPT_CLOSE_ON_FREE);
    if (connection == nullptr) return nullptr;
    bufferevent_incref(connection);
    State& state = owner->m_open[connection];
    state.deadline = Clock::now() + owner->m_limits.request;
    state.watching = evbuffer_add_cb(bufferevent_get_input(connection), Arrived, &state);
    owner->ListenIfRoom();
    return connection;
}

void Connections::Watch(evconnlistener* listener) {
    m_listener = listener;
    g_watching = this;
    evconnlistener_set_error_cb(listener, AcceptFailed);
}

void Connections::ReplyStarts(evhttp_request* request) {
    const auto found = m_open.find(ConnectionOf(request));
    if (found != m_open.end()) found->second.replying = true;
}

void Connections::LongReply(evhttp_request* request) {
    bufferevent* connection = ConnectionOf(request);
    const auto found = m_open.find(connection);
    if (found == m_open.end()) return;
    found->second.longReply = true;
    const timeval stall{static_cast<time_t>(m_limits.stall.count()), 0};
    bufferevent_set_timeouts(connection, nullptr, &stall);
}

void Connections::ReplyDone(evhttp_request* request) {
    bufferevent* connection = ConnectionOf(request);
    const auto found = m_open.find(connection);
    if (found == m_open.end()) return;
    State& state = found->second;
    state.deadline = Clock::now() + m_limits.request;
    state.replying = false;
    if (!std::exchange(state.longReply, false)) return;
    // Silence while a request is awaited, as the library had it before the download.
    const timeval silence =
        Interval(std::max<std::chrono::milliseconds>(m_limits.request, std::chrono::seconds(1)));
    const timeval stall{static_cast<time_t>(m_limits.stall.count()), 0};
    bufferevent_set_timeouts(connection, &silence, &stall);
}

std::size_t Connections::Replying() const {
    std::size_t count = 0;
    for (const auto& [connection, state] : m_open)
        count += state.replying && !DroppedByLibrary(connection);
    return count;
}

void Connections::Drain(std::function<void()> drained) {
    m_drained = std::move(drained);
    if (m_listener && m_listening) evconnlistener_disable(m_listener);
    m_listening = false;
    CloseIdle();
    if (Replying() == 0) std::exchange(m_drained, [] {})();
}

void Connections::CloseIdle() {
    for (const auto& [connection, state] : m_open)
        if (!state.replying) CutOff(connection);
}

void Connections::Sweep(evutil_socket_t, short, void* self) {
    auto* owner = static_cast<Connections*>(self);
    const Clock::time_point now = Clock::now();
    std::vector<bufferevent*> done;
    for (const auto& [connection, state] : owner->m_open) {
        if (DroppedByLibrary(connection)) {
            done.push_back(connection);
        } else if (!state.replying && now > state.deadline) {
            CutOff(connection);
            done.push_back(connection);
        }
    }
    for (bufferevent* connection : done) owner->Forget(connection);
    if (owner->m_drained) {
        owner->CloseIdle();
        if (owner->Replying() == 0) std::exchange(owner->m_drained, [] {})();
        return;
    }
    owner->ListenIfRoom();
}

// Out of descriptors (or memory), accept fails at once again: the listener rests for a while
// instead of spinning, and says so at most once a second.
void Connections::AcceptFailed(evconnlistener* listener, void*) {
    const int error = EVUTIL_SOCKET_ERROR();
    Connections* owner = g_watching;
    if (owner == nullptr || owner->m_listener != listener) return;
    const Clock::time_point now = Clock::now();
    ++owner->m_failedAccepts;
    if (now - owner->m_lastAcceptReport >= std::chrono::seconds(1)) {
        owner->m_report("cannot accept a connection (" + std::string(std::strerror(error)) + "; " +
                        std::to_string(owner->m_failedAccepts) + " times since the last report, " +
                        std::to_string(owner->Open()) + " open)");
        owner->m_lastAcceptReport = now;
        owner->m_failedAccepts = 0;
    }
    owner->m_acceptAgain = now + kAcceptPause;
    if (owner->m_listening) evconnlistener_disable(listener);
    owner->m_listening = false;
}

void Connections::ListenIfRoom() {
    if (m_listener == nullptr || m_drained) return;
    const bool room = m_open.size() < m_limits.cap && Clock::now() >= m_acceptAgain;
    if (room != m_listening) {
        if (room)
            evconnlistener_enable(m_listener);
        else
            evconnlistener_disable(m_listener);
        m_listening = room;
    }
}

// Bytes read from a client, seen before the library parses them.
void Connections::Arrived(evbuffer* input, const evbuffer_cb_info* info, void* state) {
    if (info->n_added == 0) return;
    auto& head = static_cast<State*>(state)->head;
    evbuffer_ptr from{};
    if (evbuffer_ptr_set(input, &from, evbuffer_get_length(input) - info->n_added,
                         EVBUFFER_PTR_SET) != 0)
        return;
    evbuffer_iovec pieces[8];
    const int count =
        evbuffer_peek(input, static_cast<ev_ssize_t>(info->n_added), &from, pieces, 8);
    for (int i = 0; i < count && i < 8; ++i)
        head.Feed(static_cast<char*>(pieces[i].iov_base), pieces[i].iov_len);
}

const HeadScanner* Connections::Head(evhttp_request* request) const {
    const auto found = m_open.find(ConnectionOf(request));
    return found == m_open.end() ? nullptr : &found->second.head;
}

void Connections::Forget(bufferevent* connection) {
    const auto found = m_open.find(connection);
    if (found->second.watching)
        evbuffer_remove_cb_entry(bufferevent_get_input(connection), found->second.watching);
    m_open.erase(found);
    bufferevent_decref(connection);
}

}  // namespace vendor
