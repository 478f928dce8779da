// The updater's one window. It owns the state that the update workers share, lays out the
// controls, keeps the log panel, and a second after it appears decides how the run goes on:
// automatic with the command line "AutoUpdate", otherwise by the Start button.
//
// Worker threads get the dialog as their parameter. They touch it only inside an
// ObjectLifetime::Access on it, since the user may close the dialog at any moment.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "Controls.h"
#include "GbkString.h"
#include "ImageButton.h"
#include "LinkLabel.h"
#include "ModalDialog.h"
#include "WorkerThread.h"

// A download progress notice: WPARAM is the percentage. Nothing else travels with it, since
// any process on the desktop can post it.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 101;
// "Lines are waiting in the log queue": sent by workers, no payload.
constexpr UINT WM_APPEND_LOG = WM_APP + 1;

// The site base URL compiled into the program that links the dialog, and the vendor's public
// release key (base64 of the raw 64-byte X and Y; empty when releases are not signed).
extern const char kUpdaterSiteUrl[];
extern const char kUpdaterReleaseKey[];

class UpdateDialog : public ModalDialog {
public:
    explicit UpdateDialog(Window* parent = nullptr);
    ~UpdateDialog() override;

    // Appends one line (callers start it with "* ") to the log panel. Any thread may call
    // it; the panel is read and rewritten on the dialog's thread alone, so no line is lost.
    void AppendLog(GbkString line);
    // Empties the log panel, in order with the lines appended before and after.
    void ClearLog();

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

protected:
    void DoDataExchange(DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnCommand(int id, int notifyCode) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct LogEntry {
        bool clear;
        GbkString line;
    };

    void OnTimer(UINT_PTR timerId);
    LRESULT OnDownloadProgress(WPARAM wParam, LPARAM lParam);
    void QueueLog(LogEntry entry);
    void DrainLog();
    void OnStop();
    bool OnPaint();
    HCURSOR OnQueryDragIcon() const;
    void StartAutoUpdate();
    bool OnDialogThread() const;

    bool m_bModeDecided = false;
    std::mutex m_logLock;
    std::vector<LogEntry> m_logQueue;
};
