// A run's state that the dialog shares with it: the marker of a run in progress, the stop
// latch, and whether the new version is in place. The owner (the dialog) may go at any moment;
// then the run counts as stopped and nothing is written.
#pragma once

#include <windows.h>

#include <atomic>

#include "RunReport.h"
#include "ServerProtocol.h"
#include "WorkerThread.h"

class RunControl {
public:
    RunControl(const void* owner, std::atomic<WorkerThread*>& marker, std::atomic<BOOL>& running,
               std::atomic<bool>& inPlace)
        : m_owner(owner), m_marker(marker), m_running(running), m_inPlace(inPlace) {}

    // Stop was pressed, or the owner has gone.
    bool StopRequested() const;
    StopCheck Stopper() const {
        return [this] { return StopRequested(); };
    }
    // Only once this is said does the notice of 100 finish the update.
    void NewVersionInPlace();
    // Clears the marker: another run may start.
    void End();

private:
    const void* m_owner;
    std::atomic<WorkerThread*>& m_marker;
    std::atomic<BOOL>& m_running;
    std::atomic<bool>& m_inPlace;
};

// Ends every run, however it returns: the marker is cleared, then Start is given back.
class RunEnd {
public:
    RunEnd(RunControl& control, RunReport& report) : m_control(control), m_report(report) {}
    ~RunEnd() {
        m_control.End();
        m_report.RunEnded();
    }
    RunEnd(const RunEnd&) = delete;
    RunEnd& operator=(const RunEnd&) = delete;

private:
    RunControl& m_control;
    RunReport& m_report;
};
