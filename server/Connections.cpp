#include "Connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
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

// Calls `use` on each stretch of `size` bytes of `buffer` from `offset`, where they lie.
template <typename Use>
void ForEachPiece(evbuffer* buffer, std::size_t offset, std::size_t size, Use use) {
    evbuffer_ptr at{};
    if (evbuffer_ptr_set(buffer, &at, offset, EVBUFFER_PTR_SET) != 0) return;
    while (size > 0) {
        evbuffer_iovec pieces[16];
        const int count =
            std::min(16, evbuffer_peek(buffer, static_cast<ev_ssize_t>(size), &at, pieces, 16));
        if (count <= 0) return;
        for (int i = 0; i < count && size > 0; ++i) {
            const std::size_t piece = std::min(size, pieces[i].iov_len);
            use(static_cast<char*>(pieces[i].iov_base), piece);
            size -= piece;
            if (evbuffer_ptr_set(buffer, &at, piece, EVBUFFER_PTR_ADD) != 0) return;
        }
    }
}

}  // namespace

std::string PeerOf(bufferevent* connection) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char text[INET6_ADDRSTRLEN] = "-";
    if (::getpeername(bufferevent_getfd(connection), reinterpret_cast<sockaddr*>(&address),
                      &length) != 0)
        return text;
    if (address.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&address)->sin6_addr, text,
                    sizeof text);
    else if (address.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&address)->sin_addr, text,
                    sizeof text);
    return text;
}

Connections::Connections(event_base* base, ConnectionLimits limits, Report report, Refused refused)
    : m_limits(limits),
      m_report(std::move(report)),
      m_sweep(event_new(base, -1, EV_PERSIST, Sweep, this)),
      m_refused(std::move(refused)) {
    if (m_sweep == nullptr) throw std::bad_alloc();
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
    state.owner = owner;
    state.connection = connection;
    state.deadline = Clock::now() + owner->m_limits.request;
    state.watching = evbuffer_add_cb(bufferevent_get_input(connection), Arrived, &state);
    state.replies = evbuffer_add_cb(bufferevent_get_output(connection), Written, &state);
    // Reading stops while that much waits unparsed (while a reply is under way), and goes on
    // as the library takes it. The longest line the library accepts still fits.
    bufferevent_setwatermark(connection, EV_READ, 0, owner->m_limits.buffered);
    owner->ListenIfRoom();
    return connection;
}

void Connections::Watch(evconnlistener* listener) {
    m_listeners.push_back(listener);
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
    state.head.Next();
    if (state.closing) {
        // The library would go on to what follows (it keeps a CONNECT's connection open).
        evbuffer* input = bufferevent_get_input(connection);
        evbuffer_drain(input, evbuffer_get_length(input));
        CutOff(connection);
    }
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
    Pause();
    m_listeners.clear();  // the server closes them
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
    if (owner == nullptr || std::find(owner->m_listeners.begin(), owner->m_listeners.end(),
                                      listener) == owner->m_listeners.end())
        return;
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
    owner->Pause();
}

void Connections::Pause() {
    if (m_listening)
        for (evconnlistener* listener : m_listeners) evconnlistener_disable(listener);
    m_listening = false;
}

void Connections::ListenIfRoom() {
    if (m_drained) return;
    const bool room = m_open.size() < m_limits.cap && Clock::now() >= m_acceptAgain;
    if (room == m_listening) return;
    if (!room) return Pause();
    for (evconnlistener* listener : m_listeners) evconnlistener_enable(listener);
    m_listening = true;
}

// Bytes read from a client, seen before the library parses them.
void Connections::Arrived(evbuffer* input, const evbuffer_cb_info* info, void* state) {
    if (info->n_added == 0) return;
    HeadScanner& head = static_cast<State*>(state)->head;
    const std::size_t length = evbuffer_get_length(input);
    ForEachPiece(input, length - info->n_added, info->n_added,
                 [&](char* bytes, std::size_t size) { head.Feed(bytes, size); });
    for (const HeadScanner::Patch& patch : head.TakePatches()) {
        const std::uint64_t bufferStart = head.Fed() - length;
        if (patch.offset < bufferStart) continue;  // taken by the library already
        const char* from = patch.bytes.data();
        ForEachPiece(input, patch.offset - bufferStart, patch.bytes.size(),
                     [&](char* bytes, std::size_t size) {
                         std::memcpy(bytes, from, size);
                         from += size;
                     });
    }
}

// A reply written while none of ours is under way is the library's own, to a request it
// refused before the server saw it. The library writes its head a line at a time.
void Connections::Written(evbuffer* output, const evbuffer_cb_info* info, void* context) {
    auto* state = static_cast<State*>(context);
    if (info->n_added == 0 || state->replying) return;
    std::string line;
    ForEachPiece(output, evbuffer_get_length(output) - info->n_added,
                 std::min<std::size_t>(info->n_added, 64),
                 [&](char* bytes, std::size_t size) { line.append(bytes, size); });
    if (line.starts_with("HTTP/") && line.size() > 12) {
        state->refusal = std::atoi(&line[9]);
        state->refusalBytes = 0;
    } else if (line.starts_with("Content-Length: ")) {
        state->refusalBytes = std::strtoull(&line[16], nullptr, 10);
    } else if (line == "\r\n" && state->refusal >= 200) {  // its head ends ("100 Continue": not)
        state->owner->m_refused(state->connection, state->head.Current(), state->refusal,
                                state->refusalBytes);
        state->head.Next();
        state->refusal = 0;
    }
}

const ScannedHead* Connections::Head(evhttp_request* request) const {
    const auto found = m_open.find(ConnectionOf(request));
    return found == m_open.end() ? nullptr : &found->second.head.Current();
}

void Connections::CloseAfterReply(evhttp_request* request) {
    const auto found = m_open.find(ConnectionOf(request));
    if (found != m_open.end()) found->second.closing = true;
}

void Connections::Forget(bufferevent* connection) {
    const auto found = m_open.find(connection);
    if (found->second.watching)
        evbuffer_remove_cb_entry(bufferevent_get_input(connection), found->second.watching);
    if (found->second.replies)
        evbuffer_remove_cb_entry(bufferevent_get_output(connection), found->second.replies);
    m_open.erase(found);
    bufferevent_decref(connection);
}

}  // namespace vendor
