#include "ResumableGet.h"

#include <wininet.h>

namespace {

constexpr DWORD kPollMs = 25;

bool ParseNumber(const std::wstring& text, size_t& at, uint64_t& value) {
    const size_t start = at;
    value = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
        if (value > UINT64_MAX / 10 - 9) return false;
        value = value * 10 + static_cast<uint64_t>(text[at] - L'0');
    }
    return at > start;
}

bool ParseHttpDate(const std::wstring& text, ULONGLONG& seconds) {
    SYSTEMTIME time{};
    FILETIME file{};
    if (text.empty() || !InternetTimeToSystemTimeW(text.c_str(), &time, 0) ||
        !SystemTimeToFileTime(&time, &file))
        return false;
    seconds =
        ((static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 10000000ULL;
    return true;
}

// Whether another try may mend what ended this one: a connection that failed, dropped or fell
// silent. A reply refused, a file that could not be written, or a body longer than announced
// is not mended by asking again.
bool WorthAnotherTry(const HttpResult& result) {
    switch (result.outcome) {
        case HttpOutcome::Truncated:
        case HttpOutcome::TimedOut:
        case HttpOutcome::Slowed:
            return true;
        case HttpOutcome::Failed:
            return result.error != ERROR_INVALID_DATA &&
                   result.error != ERROR_HTTP_REDIRECT_FAILED &&
                   result.error != ERROR_INTERNET_REDIRECT_SCHEME_CHANGE;
        default:
            return false;
    }
}

// One try's view of the sink: it decides what a reply to a range request means, and counts
// the bytes in hand.
class TrySink : public HttpSink {
public:
    TrySink(ResumePoint& point, ResumableSink& sink) : m_point(point), m_sink(sink) {}

    bool Begin(const HttpResponseInfo& reply) override {
        m_broughtBytes = false;
        if (m_point.offset == 0) return BeginWhole(reply);
        if (reply.status == 200) {
            m_startedOver = true;
            return m_sink.StartOver() && BeginWhole(reply);
        }
        if (reply.status != 206 || !RestFollows(reply)) return false;
        m_sink.Resumed(m_point.offset);
        return true;
    }

    bool Write(const char* data, DWORD size) override {
        m_point.offset += size;
        m_broughtBytes = true;
        return m_sink.Write(data, size);
    }

    bool BroughtBytes() const { return m_broughtBytes; }
    // A range request was answered with the whole body.
    bool StartedOver() const { return m_startedOver; }

private:
    bool BeginWhole(const HttpResponseInfo& reply) {
        m_point = {};
        if (!m_sink.Begin(reply)) return false;
        m_point.total = reply.hasLength ? reply.length : 0;
        m_point.validator = ResumeValidator(reply);
        return true;
    }

    // The rest of the very body in hand: from the first byte missing to the end.
    bool RestFollows(const HttpResponseInfo& reply) const {
        uint64_t first = 0, last = 0, total = 0;
        return ParseContentRange(reply.contentRange, first, last, total) &&
               first == m_point.offset && total == m_point.total && last + 1 == total;
    }

    ResumePoint& m_point;
    ResumableSink& m_sink;
    bool m_broughtBytes = false;
    bool m_startedOver = false;
};

// False when a stop ended the pause.
bool Pause(DWORD ms, const std::function<bool()>& stopRequested) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (stopRequested && stopRequested()) return false;
        Sleep(std::min<DWORD>(kPollMs, ms - (GetTickCount() - start)));
    }
    return !(stopRequested && stopRequested());
}

}  // namespace

std::wstring ResumeValidator(const HttpResponseInfo& reply) {
    if (!reply.etag.empty()) {
        const bool weak = reply.etag.compare(0, 2, L"W/") == 0;
        if (!weak) return reply.etag;
    }
    ULONGLONG modified = 0, date = 0;
    if (ParseHttpDate(reply.lastModified, modified) && ParseHttpDate(reply.date, date) &&
        modified + 1 <= date)
        return reply.lastModified;
    return {};
}

bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& last, uint64_t& total) {
    const std::wstring unit = L"bytes ";
    if (text.compare(0, unit.size(), unit) != 0) return false;
    size_t at = unit.size();
    if (!ParseNumber(text, at, first) || at >= text.size() || text[at++] != L'-') return false;
    if (!ParseNumber(text, at, last) || at >= text.size() || text[at++] != L'/') return false;
    return ParseNumber(text, at, total) && at == text.size() && first <= last && last < total;
}

HttpResult ResumableGet(const std::wstring& url, const HttpGetOptions& options,
                        const RetryPolicy& retry, ResumePoint& point, ResumableSink& sink) {
    int fruitless = 0;
    // A server that answers a range with the whole body may not serve ranges at all: cutting
    // a slowed read would then fetch the body from its start again and again.
    bool rangesServed = true;
    for (;;) {
        TrySink trySink(point, sink);
        HttpGetOptions tryOptions = options;
        tryOptions.resumable = [&point, &rangesServed, &trySink] {
            return rangesServed && !trySink.StartedOver() && point.total > 0 &&
                   !point.validator.empty();
        };
        if (point.offset > 0)
            tryOptions.headers += (tryOptions.headers.empty() ? L"" : L"\r\n") +
                                  std::wstring(L"Range: bytes=") + std::to_wstring(point.offset) +
                                  L"-\r\nIf-Range: " + point.validator;
        HttpResult result = HttpGet(url, tryOptions, trySink);
        result.received = point.offset;
        sink.TryEnded(point);
        if (result.outcome == HttpOutcome::Complete || !WorthAnotherTry(result) ||
            !point.Resumable())
            return result;
        rangesServed = rangesServed && !trySink.StartedOver();
        fruitless = trySink.BroughtBytes() ? 0 : fruitless + 1;
        if (fruitless >= retry.mostFruitlessTries) return result;
        // A slowed link is still there: the rest is asked for at once.
        if (result.outcome != HttpOutcome::Slowed &&
            !Pause(retry.firstPauseMs << fruitless, options.stopRequested)) {
            result.outcome = HttpOutcome::Stopped;
            return result;
        }
    }
}
