#include "HttpGet.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "MonotonicClock.h"
#include "ReadingPace.h"

namespace {

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The address a Location names, read against the address that answered it; empty unless it
// is an http or https address.
std::wstring RedirectTarget(const std::wstring& from, const std::wstring& location) {
    std::vector<wchar_t> combined(from.size() + location.size() + 64);
    auto size = static_cast<DWORD>(combined.size());
    if (!InternetCombineUrlW(from.c_str(), location.c_str(), combined.data(), &size, ICU_NO_ENCODE))
        return {};
    std::wstring target(combined.data(), size);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    if (!InternetCrackUrlW(target.c_str(), 0, 0, &parts)) return {};
    const bool web =
        parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
    return web ? target : std::wstring();
}

std::wstring TextHeader(HINTERNET request, DWORD query) {
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, query, text, &size, nullptr)) return {};
    return text;
}

// What WinINet's callback thread shares with a transfer. WinINet may still call back after
// the transfer has closed its handles (it announces closings, and not every handle's creation,
// so closings cannot be counted against creations), and an operation the transfer gave up on
// may still complete into the buffer. So a state is never freed: a transfer gives it back when
// it ends, and it is taken again only once every operation that went pending on it has
// completed (closing the handles cancels them on Windows; under Wine a read on a silent
// connection goes on, on a WinINet thread, until the server closes it). One whose operation
// never completes stays aside for good. A late closing notice changes nothing.
// A state is held from Take until it is given back settled, or until it settles in the pool;
// at most kMostHeldTransfers are held at once. Of the settled ones only the next to be taken
// keeps its buffers.
struct AsyncState {
    HANDLE completed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD_PTR> result{0};
    std::atomic<DWORD> error{0};
    // WinINet writes what a pending call answers when it completes, which may be after the
    // transfer was abandoned: the buffers and both counts live here, never on a caller's stack.
    // Two buffers: while reading ahead, WinINet fills one while the sink takes the other.
    std::vector<char> buffers[2];
    INTERNET_BUFFERSA piece{};  // a read: its buffer, and then the count it got
    DWORD bytesAvailable = 0;
    unsigned pended = 0;  // operations that went pending, counted by the transfer's thread
    // Those that have completed: the callback's last touch of the state, so once the counts
    // agree nothing touches it any more.
    std::atomic<unsigned> completions{0};

    // Null while kMostHeldTransfers states are held.
    static AsyncState* Take(size_t bufferSize) {
        AsyncState* state = nullptr;
        {
            std::lock_guard<std::mutex> hold(PoolLock());
            Pool& pool = ThePool();
            if (pool.taken + LetGoOfSettled(pool) >= kMostHeldTransfers) return nullptr;
            const auto settled = std::find_if(pool.given.begin(), pool.given.end(),
                                              [](AsyncState* given) { return given->Settled(); });
            if (settled != pool.given.end()) {
                state = *settled;
                pool.given.erase(settled);
            }
            ++pool.taken;
        }
        if (!state) state = new AsyncState;
        ResetEvent(state->completed);
        state->pended = 0;
        state->completions = 0;
        state->buffers[0].resize(bufferSize);
        return state;
    }
    // The second buffer is filled only while reading ahead: a slow link never touches it.
    char* Buffer(int which) {
        if (buffers[which].size() < buffers[0].size()) buffers[which].resize(buffers[0].size());
        return buffers[which].data();
    }
    DWORD BufferSize() const { return static_cast<DWORD>(buffers[0].size()); }
    void GiveBack() {
        std::lock_guard<std::mutex> hold(PoolLock());
        Pool& pool = ThePool();
        --pool.taken;
        pool.given.push_back(this);
        LetGoOfSettled(pool);
    }

private:
    struct Pool {
        std::vector<AsyncState*> given;
        unsigned taken = 0;  // held by transfers, running or still closing
    };

    bool Settled() const { return completions == pended; }
    // Frees the buffers of the given states that have settled, but for the first, which the
    // next transfer takes as it is (fresh buffers of megabytes cost a fast download a good
    // part of its speed); returns how many have not settled.
    static unsigned LetGoOfSettled(Pool& pool) {
        unsigned unsettled = 0;
        bool kept = false;
        for (AsyncState* given : pool.given) {
            if (!given->Settled()) {
                ++unsettled;
            } else if (!kept) {
                kept = true;
            } else {
                for (std::vector<char>& buffer : given->buffers) std::vector<char>().swap(buffer);
            }
        }
        return unsettled;
    }
    // Never destroyed: callbacks may come while the process ends.
    static Pool& ThePool() {
        static auto* pool = new Pool;
        return *pool;
    }
    static std::mutex& PoolLock() {
        static auto* lock = new std::mutex;
        return *lock;
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    auto* state = reinterpret_cast<AsyncState*>(context);
    if (!state || status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    const auto* done = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    state->result = done->dwResult;
    state->error = done->dwError;
    SetEvent(state->completed);
    ++state->completions;
}

class Transfer {
public:
    Transfer(const HttpGetOptions& options, HttpSink& sink, AsyncState* state)
        : m_options(options),
          m_sink(sink),
          m_state(state),
          m_pace(m_state->BufferSize(), options.idleTimeoutMs, NowMs()) {}
    ~Transfer() {
        // Closing a request whose body is unread can take as long as reading the rest of it
        // (WinINet may drain it to keep the connection), so an abandoned transfer's handles
        // are closed on a thread of their own and the caller goes on at once. The state stays
        // held meanwhile: closings in flight count against kMostHeldTransfers.
        const bool abandoned = m_abandoned && m_root;
        auto close = [request = m_request, root = m_root, state = m_state] {
            if (request) InternetCloseHandle(request);
            if (root) InternetCloseHandle(root);
            state->GiveBack();
        };
        if (abandoned) {
            try {
                std::thread(close).detach();
                return;
            } catch (...) {
            }
        }
        close();
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    HttpResult Run(const std::wstring& url);

private:
    enum class Wait { Completed, Stopped, TimedOut, Slowed };
    // A read asked of WinINet, answered at once or pending.
    struct Read {
        int buffer = 0;
        DWORD slowLimitMs = 0;  // see WaitForCompletion
        DWORD askedAt = 0;
        bool pending = false;
    };

    bool Open(const std::wstring& url, HttpResult& result);
    bool OpenOne(const std::wstring& url, HttpResult& result);
    DWORD Status() const;
    bool ReadHead(HttpResponseInfo& head) const;
    bool Finish(BOOL answered, HttpResult& result);
    bool WentPending(HttpResult& result);
    bool Await(HttpResult& result, DWORD slowLimitMs, DWORD since);
    bool QueryAvailable(DWORD& available, HttpResult& result);
    bool StartRead(int buffer, DWORD wanted, DWORD held, Read& read, HttpResult& result);
    bool Deliver(const char* data, DWORD got, HttpResult& result);
    Wait WaitForCompletion(DWORD slowLimitMs, DWORD since);
    bool MayReadAhead() const { return m_options.resumable && m_options.resumable(); }
    bool StopRequested() const { return m_options.stopRequested && m_options.stopRequested(); }
    // How a step of the transfer fails: it sets the outcome (and the system's error) in the
    // result and returns false; Run returns the result itself.
    bool Fail(HttpResult& result, HttpOutcome outcome, DWORD error = 0) {
        m_abandoned = m_abandoned || outcome == HttpOutcome::Stopped ||
                      outcome == HttpOutcome::TimedOut || outcome == HttpOutcome::Slowed ||
                      outcome == HttpOutcome::Refused || outcome == HttpOutcome::SinkFailed;
        result.outcome = outcome;
        result.error = error;
        return false;
    }
    HttpResult& Ended(HttpResult& result, HttpOutcome outcome, DWORD error = 0) {
        Fail(result, outcome, error);
        return result;
    }

    const HttpGetOptions& m_options;
    HttpSink& m_sink;
    AsyncState* m_state;
    HINTERNET m_root = nullptr;
    HINTERNET m_request = nullptr;
    bool m_abandoned = false;  // stopped, timed out or refused with the body unread
    ReadingPace m_pace;
};

// slowLimitMs: how long the operation may take from `since` before it counts as slowed; 0 for
// as long as the silence limit allows.
Transfer::Wait Transfer::WaitForCompletion(DWORD slowLimitMs, DWORD since) {
    for (;;) {
        if (WaitForSingleObject(m_state->completed, kPollMs) == WAIT_OBJECT_0)
            return Wait::Completed;
        if (StopRequested()) return Wait::Stopped;
        if (m_pace.SilenceOver(NowMs())) return Wait::TimedOut;
        if (slowLimitMs && NowMs() - since >= slowLimitMs) return Wait::Slowed;
    }
}

bool Transfer::Open(const std::wstring& url, HttpResult& result) {
    m_root = InternetOpenW(m_options.agent.c_str(), m_options.accessType, nullptr, nullptr,
                           INTERNET_FLAG_ASYNC);
    if (!m_root) return Fail(result, HttpOutcome::Failed, GetLastError());
    if (m_options.resetCacheSession)
        InternetSetOptionW(m_root, INTERNET_OPTION_RESET_URLCACHE_SESSION, nullptr, 0);
    InternetSetStatusCallbackW(m_root, OnStatus);

    std::wstring address = url;
    for (int redirects = 0;; ++redirects) {
        if (!OpenOne(address, result)) return false;
        if (!IsRedirect(Status())) return true;
        if (redirects == kMostRedirects)
            return Fail(result, HttpOutcome::Failed, ERROR_HTTP_REDIRECT_FAILED);
        address = RedirectTarget(address, TextHeader(m_request, HTTP_QUERY_LOCATION));
        if (address.empty())
            return Fail(result, HttpOutcome::Failed, ERROR_INTERNET_REDIRECT_SCHEME_CHANGE);
        InternetCloseHandle(m_request);
        m_request = nullptr;
        if (StopRequested()) return Fail(result, HttpOutcome::Stopped);
    }
}

bool Transfer::OpenOne(const std::wstring& url, HttpResult& result) {
    const wchar_t* headers = m_options.headers.empty() ? nullptr : m_options.headers.c_str();
    m_request = InternetOpenUrlW(
        m_root, url.c_str(), headers, static_cast<DWORD>(m_options.headers.size()),
        m_options.flags | INTERNET_FLAG_NO_AUTO_REDIRECT, reinterpret_cast<DWORD_PTR>(m_state));
    if (!m_request) {
        if (!Finish(false, result)) return false;
        m_request = reinterpret_cast<HINTERNET>(m_state->result.load());
    }
    m_pace.Heard(NowMs());
    return true;
}

DWORD Transfer::Status() const {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(m_request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
        return 0;
    return status;
}

bool Transfer::ReadHead(HttpResponseInfo& head) const {
    head.status = Status();
    const std::wstring length = TextHeader(m_request, HTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) {
        const wchar_t* digit = length.c_str();
        head.hasLength = true;
        for (; *digit; ++digit) {
            if (*digit < L'0' || *digit > L'9' || head.length > UINT64_MAX / 10 - 9) return false;
            head.length = head.length * 10 + static_cast<uint64_t>(*digit - L'0');
        }
    }
    head.encoding = TextHeader(m_request, HTTP_QUERY_CONTENT_ENCODING);
    head.etag = TextHeader(m_request, HTTP_QUERY_ETAG);
    head.lastModified = TextHeader(m_request, HTTP_QUERY_LAST_MODIFIED);
    head.date = TextHeader(m_request, HTTP_QUERY_DATE);
    head.contentRange = TextHeader(m_request, HTTP_QUERY_CONTENT_RANGE);
    head.retryAfter = TextHeader(m_request, HTTP_QUERY_RETRY_AFTER);
    return true;
}

// Sees a WinINet call through: at once when it answered, otherwise by waiting for its
// completion. False, with the outcome set, when it failed, was stopped or timed out.
bool Transfer::Finish(BOOL answered, HttpResult& result) {
    return answered || (WentPending(result) && Await(result, 0, NowMs()));
}

// After a call that did not answer at once: true when it went pending (and is counted so),
// false, with the outcome set, when it failed.
bool Transfer::WentPending(HttpResult& result) {
    if (GetLastError() != ERROR_IO_PENDING)
        return Fail(result, HttpOutcome::Failed, GetLastError());
    ++m_state->pended;
    return true;
}

// Waits for the pending operation's completion.
bool Transfer::Await(HttpResult& result, DWORD slowLimitMs, DWORD since) {
    switch (WaitForCompletion(slowLimitMs, since)) {
        case Wait::Stopped:
            return Fail(result, HttpOutcome::Stopped);
        case Wait::TimedOut:
            return Fail(result, HttpOutcome::TimedOut);
        case Wait::Slowed:
            return Fail(result, HttpOutcome::Slowed);
        case Wait::Completed:
            break;
    }
    if (!m_state->result) return Fail(result, HttpOutcome::Failed, m_state->error);
    return true;
}

bool Transfer::QueryAvailable(DWORD& available, HttpResult& result) {
    for (;;) {
        m_state->bytesAvailable = 0;
        const DWORD asked = NowMs();
        const BOOL answered = InternetQueryDataAvailable(m_request, &m_state->bytesAvailable, 0, 0);
        if (!Finish(answered, result)) return false;
        if (!answered) m_pace.Waited(NowMs() - asked, NowMs());
        if (answered) {
            available = m_state->bytesAvailable;
            return true;
        }
        // Data has come (or the body has ended): asking again now answers at once.
    }
}

// Asks for up to `wanted` bytes into a buffer; the count lands in the state's piece. The read
// is seen through by Await when it went pending.
// InternetReadFileEx, not InternetReadFile: a read that goes pending writes its count into
// the buffers' structure when it completes, and nothing overwrites it. (Wine's InternetReadFile
// zeroes its count on the way out of a call that went pending, and the read may have completed
// and written the count before that: a body then seemed to end half-way.) Not IRF_NO_WAIT:
// Wine's reads with it lose the bytes they took from the network when they go pending.
bool Transfer::StartRead(int buffer, DWORD wanted, DWORD held, Read& read, HttpResult& result) {
    INTERNET_BUFFERSA& piece = m_state->piece;
    piece = {};
    piece.dwStructSize = sizeof(piece);
    piece.lpvBuffer = m_state->Buffer(buffer);
    piece.dwBufferLength = wanted;
    // A read of what is held waits for nothing; one ahead of it waits for the link.
    read = {buffer, wanted > held ? m_options.slowReadLimitMs : 0, NowMs(), false};
    if (InternetReadFileExA(m_request, &piece, IRF_ASYNC, reinterpret_cast<DWORD_PTR>(m_state)))
        return true;
    read.pending = true;
    return WentPending(result);
}

// The sink sees chunks of at most chunkSize bytes, and a stop between any two.
bool Transfer::Deliver(const char* data, DWORD got, HttpResult& result) {
    const DWORD chunk = std::max<DWORD>(m_options.chunkSize, 1);
    for (DWORD at = 0; at < got; at += chunk) {
        if (at > 0 && StopRequested()) return Fail(result, HttpOutcome::Stopped);
        if (!m_sink.Write(data + at, std::min(chunk, got - at)))
            return Fail(result, HttpOutcome::SinkFailed);
    }
    return true;
}

HttpResult Transfer::Run(const std::wstring& url) {
    HttpResult result;
    if (StopRequested()) return Ended(result, HttpOutcome::Stopped);
    if (!Open(url, result)) return result;

    HttpResponseInfo head;
    if (!ReadHead(head)) return Ended(result, HttpOutcome::Failed, ERROR_INVALID_DATA);
    if (!m_sink.Begin(head)) return Ended(result, HttpOutcome::Refused);

    Read read;
    bool asked = false;  // the next read was asked for before the last chunk went to the sink
    for (;;) {
        if (StopRequested()) return Ended(result, HttpOutcome::Stopped);
        if (!asked) {
            // Waits until a byte has come. Only an answer of 0 given at once ends the body: a
            // read that went pending may complete without data while more is on its way.
            DWORD held = 0;
            if (!QueryAvailable(held, result)) return result;
            if (held == 0) break;
            const DWORD wanted = MayReadAhead() ? m_pace.ReadSize(held, NowMs())
                                                : std::min(held, m_state->BufferSize());
            if (!StartRead(read.buffer, wanted, held, read, result)) return result;
        }
        asked = false;
        if (read.pending && !Await(result, read.slowLimitMs, read.askedAt)) return result;
        const DWORD got = m_state->piece.dwBufferLength;
        m_pace.Read(got, NowMs());
        if (got == 0) continue;
        result.received += got;
        if (head.hasLength && result.received > head.length)
            return Ended(result, HttpOutcome::Failed, ERROR_INVALID_DATA);
        const char* data = m_state->Buffer(read.buffer);
        // While reading ahead the next read is asked for before this chunk goes to the sink:
        // WinINet's thread takes in the link's bytes while this one writes.
        if (MayReadAhead()) {
            const DWORD next = m_pace.ReadSize(0, NowMs());
            if (next > 0 && !StartRead(1 - read.buffer, next, 0, read, result)) return result;
            asked = next > 0;
        }
        if (!Deliver(data, got, result)) return result;
    }
    // A connection closed early ends like a whole body: only the count tells them apart.
    result.outcome = head.hasLength && result.received != head.length ? HttpOutcome::Truncated
                                                                      : HttpOutcome::Complete;
    return result;
}

// A state for a new transfer. While kMostHeldTransfers are held it waits for one to be let
// go, for as long as the silence limit allows: null, with the outcome set, when a stop came
// first or none was let go in time.
AsyncState* TakeStateWhenLetGo(const HttpGetOptions& options, HttpResult& result) {
    const size_t bufferSize = std::max<DWORD>({options.readSize, options.chunkSize, 1});
    const DWORD start = NowMs();
    for (;;) {
        if (AsyncState* state = AsyncState::Take(bufferSize)) return state;
        if (options.stopRequested && options.stopRequested()) {
            result.outcome = HttpOutcome::Stopped;
            return nullptr;
        }
        if (NowMs() - start >= options.idleTimeoutMs) {
            result.outcome = HttpOutcome::TimedOut;
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

}  // namespace

HttpResult HttpGet(const std::wstring& url, const HttpGetOptions& options, HttpSink& sink) {
    HttpResult result;
    AsyncState* state = TakeStateWhenLetGo(options, result);
    if (!state) return result;
    Transfer transfer(options, sink, state);
    return transfer.Run(url);
}
