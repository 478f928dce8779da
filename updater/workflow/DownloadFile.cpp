#include "DownloadFile.h"

#include <mmsystem.h>

#include <algorithm>
#include <optional>

#include "BackgroundSha256.h"
#include "CodePage.h"
#include "DownloadMeter.h"
#include "HttpGet.h"
#include "ProgramImage.h"
#include "StagedFile.h"
#include "UpdateDialog.h"
#include "resource_ids.h"

namespace {

// No Accept-Encoding: WinINet hands over an encoded body as it came, and a compressed body
// written over the program would break it.
const wchar_t kRequestHeaders[] =
    L"Accept: */*\r\n"
    L"Accept-Language: zh-cn\r\n"
    L"User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR "
    L"1.1.4322)";

// Each cross-thread label update waits for the dialog's thread: a few a second are enough.
constexpr DWORD kLabelRefreshMs = 100;

bool IsIdentity(const std::wstring& encoding) {
    return encoding.empty() || _wcsicmp(encoding.c_str(), L"identity") == 0;
}

class DownloadSink : public HttpSink {
public:
    DownloadSink(HWND notify, StagedFile& file, const std::optional<ExpectedFile>& expected)
        : m_notify(notify), m_file(file), m_expected(expected) {
        if (m_expected) m_digest.emplace();
    }

    bool Begin(const HttpResponseInfo& response) override {
        if (response.status != 200 || !IsIdentity(response.encoding)) return false;
        if (response.hasLength && response.length == 0) return false;
        if (m_expected && response.hasLength && response.length != m_expected->size)
            return Reject();
        m_meter.emplace(response.hasLength ? response.length : 0);
        m_hasLength = response.hasLength;
        m_startTick = timeGetTime();
        return m_file.Open();
    }

    bool Write(const char* data, DWORD size) override {
        m_image.Add(data, size);
        if (!m_image.LooksLikeProgram() || !m_file.Write(data, size)) return false;
        const DownloadFigures figures = m_meter->AddChunk(size);
        if (m_expected && (m_meter->Received() > m_expected->size || !m_digest->Add(data, size)))
            return Reject();
        ShowFigures(figures);
        // The notice with 100 finishes the update: it waits until the file is in place.
        if (figures.percent < 100) Notify(figures.percent);
        m_meter->ChunkHandled(m_startTick, timeGetTime());
        return true;
    }

    // After the whole body: false when it cannot be a program, or is not the expected file.
    bool Finish() {
        if (m_pending) ShowFigures(*m_pending, true);
        if (m_meter->Received() < 2 || !m_image.LooksLikeProgram()) return false;
        // Its own headers must not say that the program goes on. Without a length or a signed
        // size nothing else tells a cut body from a whole one: there they must prove it whole.
        if (!m_image.ProvenWhole(m_meter->Received()) &&
            (m_image.HeadersKnown() || (!m_hasLength && !m_expected)))
            return false;
        if (!m_expected) return true;
        std::array<uint8_t, 32> digest{};
        if (m_meter->Received() != m_expected->size || !m_digest->Finish(digest) ||
            digest != m_expected->sha256)
            return Reject();
        return true;
    }

    bool Rejected() const { return m_rejected; }

    void Notify(int percent) {
        if (percent == m_lastNotice) return;
        m_lastNotice = percent;
        PostMessageW(m_notify, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent), 0);
    }

private:
    bool Reject() {
        m_rejected = true;
        return false;
    }

    void ShowFigures(const DownloadFigures& figures, bool now = false) {
        const DWORD tick = GetTickCount();
        if (!now && m_shownOnce && tick - m_lastShown < kLabelRefreshMs) {
            m_pending = figures;
            return;
        }
        SetDlgItemTextW(m_notify, IDC_FILE_SIZE, ToWide(figures.sizeLabel).c_str());
        SetDlgItemTextW(m_notify, IDC_SPEED, ToWide(figures.speedLabel).c_str());
        SetDlgItemTextW(m_notify, IDC_PERCENT, ToWide(figures.percentLabel).c_str());
        m_shownOnce = true;
        m_lastShown = tick;
        m_pending.reset();
    }

    HWND m_notify;
    StagedFile& m_file;
    std::optional<DownloadMeter> m_meter;
    DWORD m_startTick = 0;
    ProgramImageProof m_image;
    bool m_hasLength = false;
    int m_lastNotice = -1;
    bool m_shownOnce = false;
    DWORD m_lastShown = 0;
    std::optional<DownloadFigures> m_pending;
    const std::optional<ExpectedFile>& m_expected;
    // Taken as the chunks arrive, not in a second pass; only for a signed release.
    std::optional<BackgroundSha256> m_digest;
    bool m_rejected = false;
};

HttpGetOptions DownloadOptions(const StopCheck& stopRequested) {
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
    return options;
}

}  // namespace

int DownloadFile(HWND notify, const GbkString& url, const std::wstring& path,
                 const DownloadHooks& hooks) {
    StagedFile file(path);
    DownloadSink sink(notify, file, hooks.expected);
    const HttpResult result = HttpGet(ToWide(url), DownloadOptions(hooks.stopRequested), sink);
    if (result.outcome == HttpOutcome::Stopped) return 0;
    const bool whole = result.outcome == HttpOutcome::Complete && sink.Finish();
    if (sink.Rejected() && hooks.rejected) hooks.rejected();
    if (!whole) return -1;
    // From here the download is whole: a Stop no longer cancels it.
    if (!file.Commit()) return -1;
    if (hooks.replaced) hooks.replaced();
    sink.Notify(100);
    return 0;
}
