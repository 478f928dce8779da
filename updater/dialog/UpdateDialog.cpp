#include "UpdateDialog.h"

#include <shellapi.h>

#include "Application.h"
#include "CodePage.h"
#include "LocalFiles.h"
#include "LogPanel.h"
#include "ObjectLifetime.h"
#include "ProgramHelp.h"
#include "WorkerProcs.h"
#include "resource_ids.h"

namespace {
const char kWelcomeNotes[] =
    "* 本程序可以帮助您升级Qorvel\r\n"
    "* 升级前请先关闭Qorvel主程序\r\n"
    "* 如果没有关闭本程序会自动帮您关闭\r\n"
    "* 升级过程中不要启动Qorvel主程序\r\n";
const char kAutoUpdateMode[] = "AutoUpdate";
constexpr int kLastStage = 3;  // the stage bar runs from 0 to 3
constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartTimerPeriodMs = 1000;
}  // namespace

UpdateDialog::UpdateDialog(Window* parent, const char* siteUrl) : ModalDialog(IDD_UPDATE, parent) {
    // Built in this order, not in declaration order: the addresses are made from their parts.
    m_strLog = kWelcomeNotes;
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MAIN));
    m_strSiteUrl = siteUrl;
    m_strUpdateDir = "freeUpdate/";
    m_strCheckUrl = m_strSiteUrl + m_strUpdateDir + "isweb.asp";
    m_strAction = "Auto";
    m_strUpdateUrl = m_strSiteUrl + m_strUpdateDir + "update.asp?action=" + m_strAction;
    m_strLocalVersion = "1.0.0.1";
    ObjectLifetime::Begin(this);
}

UpdateDialog::~UpdateDialog() {
    // Workers may still hold this dialog: wait for the accesses in progress, refuse new ones.
    ObjectLifetime::Retire(this);
}

void UpdateDialog::DoDataExchange(DataExchange& exchange) {
    ModalDialog::DoDataExchange(exchange);
    exchange.Control(IDC_STOP, m_btnStop);
    exchange.Control(IDC_LINK_LOG, m_lnkLog);
    exchange.Control(IDOK, m_btnStart);
    exchange.Control(IDC_LOG, m_editLog);
    exchange.Control(IDC_LINK_HOME, m_lnkHome);
    exchange.Control(IDC_LINK_MANUAL, m_lnkManual);
    exchange.Control(IDC_FILE_PROGRESS, m_progressFile);
    exchange.Control(IDC_STAGE_PROGRESS, m_progressStage);
    exchange.Text(IDC_LOG, m_strLog);
}

BOOL UpdateDialog::OnInitDialog() {
    ModalDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_btnStart.LoadIcons(IDI_START, 0);
    m_btnStop.LoadIcons(IDI_STOP, 0);
    SetTimer(m_hWnd, kStartTimer, kStartTimerPeriodMs, nullptr);
    return TRUE;
}

bool UpdateDialog::OnCommand(int id, int notifyCode) {
    if (id == IDC_STOP && notifyCode == BN_CLICKED) {
        OnStop();
        return true;
    }
    if (id == ID_HELP) {
        ShowProgramHelp(m_hWnd);
        return true;
    }
    return false;
}

bool UpdateDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_TIMER:
            OnTimer(wParam);
            return false;  // the default processing follows in every case
        case WM_PAINT:
            return OnPaint();
        case WM_QUERYDRAGICON:
            result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
            return true;
        case WM_REPORT_QUEUED:
            DrainQueue();
            return true;
        case WM_DOWNLOAD_PROGRESS:
            result = OnDownloadProgress(wParam, lParam);
            return true;
        case WM_HELP:  // F1
            ShowProgramHelp(m_hWnd);
            result = TRUE;
            return true;
        default:
            return false;
    }
}

void UpdateDialog::OnTimer(UINT_PTR timerId) {
    // Only the start-up timer's first tick that finds the dialog on screen decides, once.
    if (timerId != kStartTimer || m_bModeDecided) return;
    if (!IsWindow() || !IsWindowVisible()) return;
    m_bModeDecided = true;
    WorkerThread::Start(LoadInfoProc, this);
    const Application* app = Application::Current();
    m_strMode = app ? app->m_lpCmdLine : GbkString();
    AppendLog("* 获取配置模式完成…!");
    // Exactly "AutoUpdate": whole string, case and blanks count.
    if (!m_strMode.IsEmpty() && m_strMode == kAutoUpdateMode) {
        StartAutoUpdate();
    } else {
        m_btnStart.EnableWindow(true);
        m_btnStop.EnableWindow(true);
    }
    KillTimer(m_hWnd, kStartTimer);
}

void UpdateDialog::OnOK() {
    // IDOK can arrive without a click (Enter, another program): Start must be on.
    if (!m_btnStart.IsWindowEnabled()) return;
    StartAutoUpdate();
}

void UpdateDialog::StartAutoUpdate() {
    if (m_pUpdateThread.load() != nullptr) return;
    // Raised before the run begins, so that a Stop at any moment of the run is seen by it.
    m_bDownloadRunning = 1;
    m_bNewVersionInPlace = false;
    // Started suspended, so the marker is set before the run can clear it at its end.
    WorkerThread* run = WorkerThread::Start(AutoUpdateProc, this, true);
    if (!run) return;
    m_pUpdateThread = run;
    run->Resume();
}

void UpdateDialog::OnCancel() {
    if (m_bStepRunning) {
        if (!m_bCloseAfterStep) AppendLog("* 正在安装新版本,完成后将自动关闭…");
        m_bCloseAfterStep = true;
        return;
    }
    ModalDialog::OnCancel();
}

void UpdateDialog::OnStop() {
    if (m_pUpdateThread.load() == nullptr || m_bStepRunning) return;
    m_bDownloadRunning = 0;
    AppendLog("* 用户执行了停止更新操作…!");
}

void UpdateDialog::AppendLog(GbkString line) {
    Queue(report::LogLine{std::move(line)});
}

void UpdateDialog::ClearLog() {
    Queue(report::LogCleared{});
}

// Every change that workers ask for goes through one queue that only the dialog's thread
// empties, so entries from any thread keep their order and none is lost. A worker's call
// returns once its entry is applied (or the dialog has gone).
void UpdateDialog::Queue(ReportEntry entry) {
    {
        std::lock_guard<std::mutex> hold(m_queueLock);
        m_queue.push_back(std::move(entry));
    }
    if (OnDialogThread())
        DrainQueue();
    else
        ::SendMessageW(m_hWnd, WM_REPORT_QUEUED, 0, 0);
}

void UpdateDialog::DrainQueue() {
    std::vector<ReportEntry> entries;
    {
        std::lock_guard<std::mutex> hold(m_queueLock);
        entries.swap(m_queue);
    }
    for (const ReportEntry& entry : entries) Apply(entry);
}

namespace {
template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
}  // namespace

void UpdateDialog::Apply(const ReportEntry& entry) {
    std::visit(
        Overloaded{
            [this](const report::LogLine& log) { AppendLineToPanel(m_hWnd, IDC_LOG, log.line); },
            [this](const report::LogCleared&) { SetDlgItemTextW(m_hWnd, IDC_LOG, L""); },
            [this](const report::RunBegun&) {
                m_btnStart.EnableWindow(false);
                m_progressStage.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, kLastStage));
                m_progressStage.SendMessage(PBM_SETPOS, 0);
            },
            [this](const report::StageReached& stage) {
                m_progressStage.SendMessage(PBM_SETPOS, static_cast<WPARAM>(stage.position));
            },
            [this](const report::StepStarted&) {
                m_bStepRunning = true;
                m_bStopWasOn = m_btnStop.IsWindowEnabled();
                m_btnStop.EnableWindow(false);
            },
            [this](const DownloadFigures& figures) {
                // In this order after each chunk: size, speed, percentage.
                SetDlgItemTextW(m_hWnd, IDC_FILE_SIZE, ToWide(figures.sizeLabel).c_str());
                SetDlgItemTextW(m_hWnd, IDC_SPEED, ToWide(figures.speedLabel).c_str());
                SetDlgItemTextW(m_hWnd, IDC_PERCENT, ToWide(figures.percentLabel).c_str());
            },
            [this](const report::VersionRead& read) { m_strLocalVersion = read.version; },
            [this](const LinkTargets& targets) { ApplyLinks(targets); },
            [this](const report::TitleSet& title) { SetWindowText(title.title); },
            [this](const report::RunEnded&) { EndRun(); },
        },
        entry);
}

void UpdateDialog::EndRun() {
    m_btnStart.EnableWindow(true);
    if (!m_bStepRunning) return;
    m_bStepRunning = false;
    m_btnStop.EnableWindow(m_bStopWasOn);
    // Posted behind the run's notice of 100, if it sent one: that starts the new program and
    // closes first.
    if (m_bCloseAfterStep) PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void UpdateDialog::ApplyLinks(const LinkTargets& targets) {
    HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_HAND_CURSOR));
    if (targets.manual) {
        m_lnkManual.SetLinkTarget(*targets.manual);
        m_lnkManual.SetHandCursor(hand);
    } else {
        m_lnkManual.EnableWindow(false);
    }
    m_lnkHome.SetLinkTarget(targets.home);
    m_lnkHome.SetHandCursor(hand);
    m_lnkLog.SetLinkTarget(targets.log);
    m_lnkLog.SetHandCursor(hand);
}

LRESULT UpdateDialog::OnDownloadProgress(WPARAM wParam, LPARAM) {
    const int percent = static_cast<int>(wParam);
    GbkString label;
    label.Format("%d%%", percent);
    SetDlgItemTextW(m_hWnd, IDC_PERCENT, ToWide(label).c_str());
    m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(percent));
    // A notice of 100 from anyone but our own run, after the replacement, finishes nothing.
    if (percent == 100 && m_bNewVersionInPlace.exchange(false)) {
        AppendLog("* 自动更新成功,正在启动主程序…!");
        ShellExecuteW(nullptr, L"open", ProductFile(kCommercialProgram).c_str(), nullptr, nullptr,
                      SW_SHOW);
        OnCancel();
    }
    return 1;
}

bool UpdateDialog::OnDialogThread() const {
    return GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId();
}

bool UpdateDialog::OnPaint() {
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc));
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return true;
}

HCURSOR UpdateDialog::OnQueryDragIcon() const {
    return m_hIcon;
}
