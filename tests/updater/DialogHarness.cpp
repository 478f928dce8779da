#include "DialogHarness.h"

#include <atomic>

// The tests point the dialog's addresses at servers of their own where they need one.
const char kUpdaterSiteUrl[] = "http://127.0.0.1:9/";
const char kUpdaterReleaseKey[] = "";

TestApp& TheTestApp() {
    static TestApp app;
    return app;
}

namespace {
BOOL CALLBACK RememberVisibleDialog(HWND window, LPARAM result) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(result) = window;
    return FALSE;
}

HWND VisibleDialogOfThread(DWORD threadId) {
    HWND found = nullptr;
    EnumThreadWindows(threadId, RememberVisibleDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}
}  // namespace

RunningDialog::RunningDialog(const char* commandTail) {
    TheTestApp().m_lpCmdLine = commandTail;
    std::atomic<UpdateDialog*> made{nullptr};
    std::atomic<DWORD> threadId{0};
    m_thread = std::thread([&made, &threadId] {
        threadId = GetCurrentThreadId();
        UpdateDialog dialog(nullptr);
        made = &dialog;
        dialog.DoModal();
    });
    WaitUntil([&] { return made.load() != nullptr; });
    m_dialog = made.load();
    WaitUntil([&] { return (m_window = VisibleDialogOfThread(threadId.load())) != nullptr; });
}

RunningDialog::~RunningDialog() {
    Close();
}

void RunningDialog::Close() {
    if (!m_thread.joinable()) return;
    if (m_window) PostMessageW(m_window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    m_thread.join();
    m_window = nullptr;
    m_dialog = nullptr;
}

std::wstring RunningDialog::LogText() const {
    HWND panel = GetDlgItem(m_window, 1029);
    const int length = static_cast<int>(SendMessageW(panel, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const auto copied =
        SendMessageW(panel, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

int RunningDialog::LogLineCount() const {
    return static_cast<int>(SendMessageW(GetDlgItem(m_window, 1029), EM_GETLINECOUNT, 0, 0));
}

bool RunningDialog::WaitForStartTick() const {
    return WaitUntil([this] { return LogText().find(L"获取配置模式完成") != std::wstring::npos; });
}
