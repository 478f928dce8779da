// A worker thread running a plain thread function. The object deletes itself when the
// thread ends; callers keep its pointer only as a marker and never use it after Resume.
#pragma once

#include <windows.h>

using WorkerProc = UINT (*)(LPVOID parameter);

class WorkerThread {
public:
    // Starts proc(parameter) on a new thread, or returns null when no thread could be made.
    // A suspended thread runs once Resume is called, so its starter can first record it.
    static WorkerThread* Start(WorkerProc proc, LPVOID parameter, bool suspended = false);
    void Resume();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

private:
    WorkerThread(WorkerProc proc, LPVOID parameter) : m_proc(proc), m_parameter(parameter) {}
    ~WorkerThread();
    static unsigned __stdcall Main(void* self);

    WorkerProc m_proc;
    LPVOID m_parameter;
    HANDLE m_thread = nullptr;
};
