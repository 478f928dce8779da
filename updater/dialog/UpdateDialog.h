// The updater's one window. It owns the state that the update workers share, lays out the
// controls, keeps the log panel, and a second after it appears decides how the run goes on:
// automatic with the command line "AutoUpdate", otherwise by the Start button.
//
// Worker threads get the dialog as their parameter and bind to it through a DialogRun, which
// reaches it only while it lives, since the user may close the dialog at any moment.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "Controls.h"
#include "DownloadNotice.h"
#include "GbkString.h"
#include "ImageButton.h"
#include "LinkLabel.h"
#include "ModalDialog.h"
#include "ReportEntry.h"
#include "RunSettings.h"
#include "WorkerThread.h"

// "Entries are waiting in the report queue": sent by workers, no payload.
constexpr UINT WM_REPORT_QUEUED = WM_APP + 1;

class UpdateDialog : public ModalDialog {
public:
    // siteUrl: the vendor's site, ending in "/"; every address is made from it.
    explicit UpdateDialog(Window* parent = nullptr, const char* siteUrl = kUpdaterSiteUrl);
    ~UpdateDialog() override;

    // Appends one line (callers start it with "* ") to the log panel. Any thread may call
    // it; the panel is read and rewritten on the dialog's thread alone, so no line is lost.
    void AppendLog(GbkString line);
    // Empties the log panel, in order with the lines appended before and after.
    void ClearLog();

    // The command line's mode, once the start-up tick has read it.
    const GbkString& Mode() const { return m_strMode; }
    // An automatic update run is in progress.
    bool RunInProgress() const { return m_pUpdateThread.load() != nullptr; }
    // The run's download may go on: Stop has not been pressed since it began.
    bool DownloadRunning() const { return m_bDownloadRunning.load() != 0; }

protected:
    void DoDataExchange(DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(int id, int notifyCode) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    friend class DialogRun;

    GbkString m_strSiteUrl;
    GbkString m_strCheckUrl;
    GbkString m_strUpdateUrl;
    GbkString m_strReply;
    GbkString m_strAction;
    GbkString m_strLocalVersion;
    GbkString m_strUpdateDir;
    GbkString m_strMode;
    // Marker of a running automatic update: set when the dialog starts one, cleared by the
    // run itself when it ends; only ever compared with null.
    std::atomic<WorkerThread*> m_pUpdateThread{nullptr};
    // Run flag of the download loop: set by the run before a download, cleared by Stop.
    std::atomic<BOOL> m_bDownloadRunning{0};
    // Set by a run of ours once the new main program stands in place: only then does the
    // notice of 100 finish the update, and only once.
    std::atomic<bool> m_bNewVersionInPlace{false};
    ImageButton m_btnStop;
    LinkLabel m_lnkLog;
    ImageButton m_btnStart;
    Edit m_editLog;
    LinkLabel m_lnkHome;
    LinkLabel m_lnkManual;
    ProgressBar m_progressFile;
    ProgressBar m_progressStage;
    GbkString m_strLog;
    HICON m_hIcon = nullptr;

    void OnTimer(UINT_PTR timerId);
    LRESULT OnDownloadProgress(WPARAM wParam, LPARAM lParam);
    // Queues an entry for the dialog's thread; a worker's call returns once it is applied.
    void Queue(ReportEntry entry);
    void DrainQueue();
    void Apply(const ReportEntry& entry);
    void ApplyLinks(const LinkTargets& targets);
    void EndRun();
    void OnStop();
    bool OnPaint();
    HCURSOR OnQueryDragIcon() const;
    void StartAutoUpdate();
    bool OnDialogThread() const;

    bool m_bModeDecided = false;
    // The step with rights is under way (dialog's thread only): Stop is off, and a close
    // waits for the run to end, so that a program it replaced is also started.
    bool m_bStepRunning = false;
    bool m_bCloseAfterStep = false;
    bool m_bStopWasOn = false;
    std::mutex m_queueLock;
    std::vector<ReportEntry> m_queue;
};
