#include "ResumableGet.h"

#include <wininet.h>

#include <algorithm>

#include "MonotonicClock.h"

namespace {

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

// Whether a date is written as servers must write dates ("Sun, 06 Nov 1994 08:49:37 GMT"):
// the platform's reading of dates takes almost any text for one.
bool IsPreferredHttpDate(const std::wstring& text) {
    SYSTEMTIME read{}, time{};
    FILETIME file{};
    wchar_t written[64] = {};
    // Through a file time, so that the day of the week is computed, not taken from the text.
    return InternetTimeToSystemTimeW(text.c_str(), &read, 0) &&
           SystemTimeToFileTime(&read, &file) && FileTimeToSystemTime(&file, &time) &&
           InternetTimeFromSystemTimeW(&time, INTERNET_RFC1123_FORMAT, written, sizeof(written)) &&
           text == written;
}

// Whether another try may mend what ended this one: a connection that failed, dropped or fell
// silent, or a server that said "not now". A reply refused, a file that could not be written,
// or a body longer than announced is not mended by asking again.
bool WorthAnotherTry(const HttpResult& result) {
    switch (result.outcome) {
        case HttpOutcome::Truncated:
        case HttpOutcome::TimedOut:
        case HttpOutcome::Slowed:
        case HttpOutcome::Unavailable:
            return true;
        case HttpOutcome::Failed:
            return result.error != ERROR_INVALID_DATA &&
                   result.error != ERROR_HTTP_REDIRECT_FAILED &&
                   result.error != ERROR_INTERNET_REDIRECT_SCHEME_CHANGE;
        default:
            return false;
    }
}

bool IsWeakEtag(const std::wstring& etag) {
    return etag.compare(0, 2, L"W/") == 0;
}

// What a reply to a request for the rest of a body turned out to be.
enum class RangeAnswer {
    None,       // no range was asked for, or the rest came as it should
    Whole,      // the whole body, from its first byte
    Untrusted,  // a 206 that is not the rest of this body, or a 416: start again from byte 0
    Passing,    // "not now": another try, later
};

// One try's view of the sink: it decides what a reply to a range request means, and counts
// the bytes in hand.
class TrySink : public HttpSink {
public:
    TrySink(ResumePoint& point, ResumableSink& sink) : m_point(point), m_sink(sink) {}

    bool Begin(const HttpResponseInfo& reply) override {
        if (m_point.offset == 0) return BeginWhole(reply);
        if (reply.status == 200) {
            m_answer = RangeAnswer::Whole;
            return m_sink.StartOver() && BeginWhole(reply);
        }
        if (IsPassingFailure(reply.status)) {
            m_answer = RangeAnswer::Passing;
            m_retryAfterMs = RetryAfterMs(reply);
            return false;
        }
        if (reply.status == 416 || (reply.status == 206 && !IsRestOfBody(reply, m_point))) {
            m_answer = RangeAnswer::Untrusted;
            return false;
        }
        if (reply.status != 206) return false;
        m_sink.Resumed(m_point.offset);
        return true;
    }

    bool Write(const char* data, DWORD size) override {
        // A rest without a length of its own (chunked) may still run past the body's end.
        if (m_point.total > 0 && size > m_point.total - m_point.offset) {
            m_answer = RangeAnswer::Untrusted;
            return false;
        }
        m_point.offset += size;
        return m_sink.Write(data, size);
    }

    RangeAnswer Answer() const { return m_answer; }
    // How long a server that said "not now" asked to be left alone.
    DWORD RetryAfter() const { return m_retryAfterMs; }

private:
    bool BeginWhole(const HttpResponseInfo& reply) {
        m_point = {};
        if (!m_sink.Begin(reply)) return false;
        m_point.total = reply.hasLength ? reply.length : 0;
        m_point.validator = ResumeValidator(reply);
        return true;
    }

    ResumePoint& m_point;
    ResumableSink& m_sink;
    RangeAnswer m_answer = RangeAnswer::None;
    DWORD m_retryAfterMs = 0;
};

// False when a stop ended the pause.
bool Pause(DWORD ms, const std::function<bool()>& stopRequested) {
    const DWORD start = NowMs();
    while (NowMs() - start < ms) {
        if (stopRequested && stopRequested()) return false;
        Sleep(std::min<DWORD>(kPollMs, ms - (NowMs() - start)));
    }
    return !(stopRequested && stopRequested());
}

}  // namespace

std::wstring ResumeValidator(const HttpResponseInfo& reply) {
    if (!reply.etag.empty() && !IsWeakEtag(reply.etag)) return reply.etag;
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

bool IsRestOfBody(const HttpResponseInfo& reply, const ResumePoint& point) {
    uint64_t first = 0, last = 0, total = 0;
    if (!ParseContentRange(reply.contentRange, first, last, total) || first != point.offset ||
        total != point.total || last + 1 != total)
        return false;
    if (reply.hasLength && reply.length != total - first) return false;
    if (!reply.encoding.empty() && _wcsicmp(reply.encoding.c_str(), L"identity") != 0) return false;
    // A validator is a strong ETag (quoted) or a date.
    if (point.validator.starts_with(L'"')) return reply.etag == point.validator;
    // Named by its date: the body then had no strong ETag, so one now names another body.
    const bool strongEtag = !reply.etag.empty() && !IsWeakEtag(reply.etag);
    return !strongEtag && (reply.lastModified.empty() || reply.lastModified == point.validator);
}

bool IsPassingFailure(DWORD status) {
    return status == 0 || status == 408 || status == 429 || (status >= 500 && status <= 599);
}

DWORD RetryAfterMs(const HttpResponseInfo& reply) {
    constexpr uint64_t kMostSeconds = 24 * 60 * 60;
    uint64_t seconds = 0;
    size_t at = 0;
    const bool delay = ParseNumber(reply.retryAfter, at, seconds) && at == reply.retryAfter.size();
    ULONGLONG until = 0, date = 0;
    if (!delay) {
        if (!IsPreferredHttpDate(reply.retryAfter) || !ParseHttpDate(reply.retryAfter, until) ||
            !ParseHttpDate(reply.date, date) || until <= date)
            return 0;
        seconds = until - date;
    }
    return static_cast<DWORD>(std::min(seconds, kMostSeconds) * 1000);
}

namespace {

// The pause before the next try: doubled after each try in a row that brought nothing new, and
// no shorter than a busy server asked for, up to the longest pause the tries allow.
DWORD PauseBefore(const RetryPolicy& retry, int fruitless, DWORD askedMs) {
    const DWORD longest = retry.firstPauseMs << std::max(retry.mostFruitlessTries - 1, 0);
    return std::max(retry.firstPauseMs << fruitless, std::min(askedMs, longest));
}

std::wstring RangeHeaders(const std::wstring& headers, const ResumePoint& point) {
    return headers + (headers.empty() ? L"" : L"\r\n") + L"Range: bytes=" +
           std::to_wstring(point.offset) + L"-\r\nIf-Range: " + point.validator;
}

}  // namespace

HttpResult ResumableGet(const std::wstring& url, const HttpGetOptions& options,
                        const RetryPolicy& retry, ResumePoint& point, ResumableSink& sink) {
    // A part that holds the whole body needs no request: a range from its end could only be
    // refused.
    if (point.Resumable() && point.offset == point.total) {
        sink.Resumed(point.offset);
        return {HttpOutcome::Complete, 0, point.offset};
    }
    uint64_t furthest = point.offset;
    int fruitless = 0;
    int startOvers = 0;
    // A server that answers a range with the whole body may not serve ranges at all: cutting
    // a slowed read would then fetch the body from its start again and again.
    bool rangesServed = true;
    for (;;) {
        TrySink trySink(point, sink);
        HttpGetOptions tryOptions = options;
        tryOptions.resumable = [&point, &rangesServed, &trySink] {
            return rangesServed && trySink.Answer() != RangeAnswer::Whole && point.total > 0 &&
                   !point.validator.empty();
        };
        if (point.offset > 0) tryOptions.headers = RangeHeaders(options.headers, point);
        HttpResult result = HttpGet(url, tryOptions, trySink);
        const RangeAnswer answer = trySink.Answer();
        if (answer == RangeAnswer::Untrusted) {
            // Nothing of this reply is kept, and the part in hand cannot be continued from
            // this server: the body starts again from its first byte.
            const bool again = ++startOvers <= retry.mostStartOvers && sink.StartOver();
            point = {};
            result.received = 0;
            sink.TryEnded(point);
            rangesServed = false;
            if (!again) return result;
            continue;
        }
        result.received = point.offset;
        sink.TryEnded(point);
        if (answer == RangeAnswer::Passing) result.outcome = HttpOutcome::Unavailable;
        // A rest sent without a length of its own ended before the body's end.
        if (result.outcome == HttpOutcome::Complete && point.total > 0 &&
            point.offset != point.total)
            result.outcome = HttpOutcome::Truncated;
        if (result.outcome == HttpOutcome::Complete || !WorthAnotherTry(result) ||
            !point.Resumable())
            return result;
        if (answer == RangeAnswer::Whole) {
            rangesServed = false;
            if (++startOvers > retry.mostStartOvers) return result;
        }
        const bool broughtNew = point.offset > furthest;
        furthest = std::max(furthest, point.offset);
        fruitless = broughtNew ? 0 : fruitless + 1;
        if (fruitless >= retry.mostFruitlessTries) return result;
        // A slowed link is still there: the rest is asked for at once.
        const DWORD asked = answer == RangeAnswer::Passing ? trySink.RetryAfter() : 0;
        if (result.outcome != HttpOutcome::Slowed &&
            !Pause(PauseBefore(retry, fruitless, asked), options.stopRequested)) {
            result.outcome = HttpOutcome::Stopped;
            return result;
        }
    }
}
