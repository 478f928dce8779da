// Runs the real update dialog on a thread of its own, as the program would on its main
// thread, and lets the test thread look at it through the ordinary Win32 calls. The worker
// threads that the dialog starts are the test's own (see TestWorkers.h).
#pragma once

#include <windows.h>

#include <string>
#include <thread>

#include "Application.h"
#include "UpdateDialog.h"

class TestApp : public Application {};
TestApp& TheTestApp();

class RunningDialog {
public:
    // Sets the application's command-line tail, then shows the dialog.
    explicit RunningDialog(const char* commandTail);
    ~RunningDialog();
    RunningDialog(const RunningDialog&) = delete;
    RunningDialog& operator=(const RunningDialog&) = delete;

    HWND Window() const { return m_window; }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }
    UpdateDialog& Dialog() const { return *m_dialog; }

    // Waits (bounded) for the first timer tick, seen as its log line.
    bool WaitForStartTick() const;
    std::wstring LogText() const;
    int LogLineCount() const;
    void Close();

private:
    std::thread m_thread;
    UpdateDialog* m_dialog = nullptr;
    HWND m_window = nullptr;
};

// Waits until condition() holds, checking every 10 ms for at most timeoutMs.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(10);
    }
    return true;
}
