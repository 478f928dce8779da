#include "DownloadFile.h"

#include <mmsystem.h>

#include <algorithm>
#include <optional>

#include "BodyChecks.h"
#include "CodePage.h"
#include "DownloadMeter.h"
#include "DownloadNotice.h"
#include "HttpGet.h"
#include "MonotonicClock.h"
#include "PartRecord.h"
#include "ResumableGet.h"
#include "Sha256.h"
#include "StagedFile.h"

namespace {

// No Accept-Encoding: WinINet hands over an encoded body as it came, and a compressed body
// written over the program would break it.
const wchar_t kRequestHeaders[] =
    L"Accept: */*\r\n"
    L"Accept-Language: zh-cn\r\n"
    L"User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR "
    L"1.1.4322)";

// The dialog's thread paints each figures update and notice: a few a second are enough.
constexpr DWORD kLabelRefreshMs = 250;  // four times a second

// Lets updates of one kind through at most once a refresh, the first at once.
class Refresh {
public:
    bool Due(DWORD at) const { return !m_started || at - m_last >= kLabelRefreshMs; }
    void Done(DWORD at) {
        m_started = true;
        m_last = at;
    }

private:
    bool m_started = false;
    DWORD m_last = 0;
};

// Reads take what WinINet holds up to this much: on a fast link few calls and few writes, each
// large, carry the body, and the next read fills a second buffer while one is written. (Far
// above the 16 KB reads of old, which held a fast link back; each read that waits costs a
// hand-over between threads, which 1 MiB reads still felt.)
constexpr DWORD kReadBytes = 2 << 20;

bool IsIdentity(const std::wstring& encoding) {
    return encoding.empty() || _wcsicmp(encoding.c_str(), L"identity") == 0;
}

class DownloadSink : public ResumableSink {
public:
    DownloadSink(HWND notify, StagedFile& file, DownloadRecord& record, const DownloadHooks& hooks)
        : m_notify(notify),
          m_report(hooks.report),
          m_file(file),
          m_part(file, record),
          m_expected(hooks.expected),
          m_checks(hooks.expected, hooks.program),
          m_resumedHook(hooks.resumed),
          m_begunHook(hooks.begun) {}

    // A part kept from a run before, already open: the checks and the figures take it in.
    bool TakeKept() {
        m_meter.emplace(m_part.Record().total);
        m_meter->Resume(m_part.Record().written);
        m_hasLength = true;  // only a part of a body with a length is ever kept
        m_startMs = NowMs();
        bool checked = true;
        if (!m_file.ReadBack([this, &checked](const char* data, DWORD size) {
                checked = checked && m_checks.Add(data, size);
            }) ||
            !checked)
            return false;
        ShowFigures(m_meter->Figures(0), true);
        return true;
    }

    bool Begin(const HttpResponseInfo& response) override {
        if (response.status != 200 || !IsIdentity(response.encoding)) return false;
        if (response.hasLength && response.length == 0) return false;
        if (m_expected && response.hasLength && response.length != m_expected->size)
            return m_checks.Reject();
        m_meter.emplace(response.hasLength ? response.length : 0);
        m_hasLength = response.hasLength;
        m_startMs = NowMs();
        m_part.Begin(ResumeValidator(response), response.hasLength ? response.length : 0);
        if (!m_file.IsOpen() && !m_file.Open()) return false;
        if (!m_begun && m_begunHook) m_begunHook();
        m_begun = true;
        return true;
    }

    bool StartOver() override {
        m_part.Drop();
        m_checks.Restart();
        return m_file.Empty();
    }

    void Resumed(uint64_t) override {
        if (m_resumed) return;
        m_resumed = true;
        if (m_resumedHook) m_resumedHook();
    }

    // The labels show where the body stands through the pause that may follow, not the
    // figures of the last refresh.
    void TryEnded(const ResumePoint&) override {
        if (m_pending) ShowFigures(*m_pending, true);
        m_part.Save();
    }

    bool Write(const char* data, DWORD size) override {
        if (!m_checks.Add(data, size)) return false;
        if (!m_file.Write(data, size)) {
            m_writeFailed = true;
            return false;
        }
        const DownloadFigures figures = m_meter->AddChunk(size, NowMs() - m_startMs);
        if (m_expected && m_meter->Received() > m_expected->size) return m_checks.Reject();
        ShowFigures(figures);
        // The notice with 100 finishes the update: it waits until the file is in place.
        if (figures.percent < 100) Notify(figures.percent);
        m_part.Written(size);
        return true;
    }

    // After the whole body: false when it cannot be a program, is not as long as the first
    // reply announced, or is not the expected file.
    bool Finish() {
        if (m_pending) ShowFigures(*m_pending, true);
        if (m_hasLength && m_meter->Received() != m_part.Record().total) return false;
        return m_checks.Whole(m_meter->Received(), m_hasLength);
    }

    bool Rejected() const { return m_checks.Rejected(); }
    bool WriteFailed() const { return m_writeFailed; }
    // Whether the part in hand is on disk with its record, for a later try or run.
    bool Recorded() const { return m_part.Saved(); }
    PartRecord& Part() { return m_part; }

    // At most one notice a refresh, as for the labels (the one with 100 always goes): each is
    // painted by the dialog's thread, and on a fast link the percentage changes every few
    // milliseconds.
    void Notify(int percent) {
        if (percent == m_lastNotice) return;
        const DWORD at = NowMs();
        if (percent != 100 && !m_notices.Due(at)) return;
        m_notices.Done(at);
        m_lastNotice = percent;
        PostMessageW(m_notify, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent), 0);
    }

private:
    void ShowFigures(const DownloadFigures& figures, bool now = false) {
        const DWORD at = NowMs();
        if (!now && !m_labels.Due(at)) {
            m_pending = figures;
            return;
        }
        if (m_report) m_report->Download(figures);
        m_labels.Done(at);
        m_pending.reset();
    }

    HWND m_notify;
    RunReport* m_report;
    StagedFile& m_file;
    PartRecord m_part;
    std::optional<DownloadMeter> m_meter;
    DWORD m_startMs = 0;
    bool m_hasLength = false;
    int m_lastNotice = -1;
    Refresh m_notices;
    Refresh m_labels;
    std::optional<DownloadFigures> m_pending;
    const std::optional<ExpectedFile>& m_expected;
    BodyChecks m_checks;
    const std::function<void()>& m_resumedHook;
    const std::function<void()>& m_begunHook;
    bool m_resumed = false;
    bool m_begun = false;
    bool m_writeFailed = false;
};

HttpGetOptions DownloadOptions(const StopCheck& stopRequested, const DownloadTimings& timings) {
    DWORD connection = 0;
    InternetGetConnectedState(&connection, 0);
    HttpGetOptions options;
    // A name of its own for each download's session.
    options.agent = L"Agent" + std::to_wstring(timeGetTime());
    options.accessType = (connection & INTERNET_CONNECTION_PROXY)
                             ? INTERNET_OPEN_TYPE_PRECONFIG
                             : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
    options.headers = kRequestHeaders;
    options.flags =
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    options.stopRequested = stopRequested;
    options.readSize = kReadBytes;
    options.chunkSize = kReadBytes;
    options.idleTimeoutMs = timings.silenceLimitMs;
    return options;
}

// Whether the link or the server, not the body or the disk, ended the download: nothing then
// proves the part in hand unusable, and a later run may resume it. (A reply that proves it so,
// another file under the address, has already started the body again from nothing.)
bool LinkFailed(HttpOutcome outcome) {
    return outcome == HttpOutcome::Truncated || outcome == HttpOutcome::TimedOut ||
           outcome == HttpOutcome::Slowed || outcome == HttpOutcome::Failed ||
           outcome == HttpOutcome::Unavailable || outcome == HttpOutcome::Refused;
}

// Keeps the whole file as a part and describes it. Its digest is taken again from the disk:
// that is what the step will read. Without a record (a server that names no validator) a later
// run does not know it, and removes it.
bool Hold(StagedFile& file, PartRecord& part, HeldDownload& held) {
    Sha256 digest;
    bool hashed = true;
    held.size = 0;
    if (!file.Keep() || !file.ReadBack([&](const char* data, DWORD size) {
            hashed = hashed && digest.Add(data, size);
            held.size += size;
        }) ||
        !hashed || !digest.Finish(held.sha256))
        return false;
    part.Save();
    held.path = file.Temporary();
    return true;
}

}  // namespace

int DownloadFile(HWND notify, const GbkString& url, const std::wstring& path,
                 const DownloadHooks& hooks, HeldDownload* held) {
    StagedFile file(path);
    DownloadRecord record;
    record.address = url;
    record.version = hooks.version;
    record.expected = hooks.expected;
    DownloadSink sink(notify, file, record, hooks);
    ResumePoint point;
    DownloadRecord kept;
    if (LoadDownloadRecord(file.Record(), kept) &&
        kept.SameOffer(url, hooks.version, hooks.expected) && file.OpenKept(kept.written)) {
        record = kept;
        if (sink.TakeKept()) {
            point = {kept.written, kept.total, kept.validator};
        } else if (!sink.StartOver()) {
            file.Discard();
            return -1;
        }
    } else {
        // Another offer's part, or one that cannot be resumed.
        StagedFile::RemoveLeftover(path);
    }

    const HttpResult result =
        ResumableGet(ToWide(url), DownloadOptions(hooks.stopRequested, hooks.timings),
                     {.firstPauseMs = hooks.timings.firstPauseMs}, point, sink);
    if (result.outcome == HttpOutcome::Stopped) {
        // Kept for the next run when it can be resumed.
        if (!sink.Recorded()) file.Discard();
        return 0;
    }
    const bool whole = result.outcome == HttpOutcome::Complete && sink.Finish();
    if (sink.Rejected() && hooks.rejected) hooks.rejected();
    if (!whole) {
        if (!LinkFailed(result.outcome) || !sink.Recorded() || sink.WriteFailed() ||
            sink.Rejected())
            file.Discard();
        return -1;
    }
    // From here the download is whole: a Stop no longer cancels it.
    return FinishDownload(notify, file, sink.Part(), hooks, held);
}

int FinishDownload(HWND notify, StagedFile& file, PartRecord& part, const DownloadHooks& hooks,
                   HeldDownload* held) {
    if (held) return Hold(file, part, *held) ? 0 : -1;
    if (!file.Commit()) return -1;
    if (hooks.replaced) hooks.replaced();
    // The notice of 100 finishes the update: only now is the new file in place.
    PostMessageW(notify, WM_DOWNLOAD_PROGRESS, 100, 0);
    return 0;
}
