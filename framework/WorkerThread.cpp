#include "WorkerThread.h"

#include <process.h>

WorkerThread* WorkerThread::Start(WorkerProc proc, LPVOID parameter, bool suspended) {
    auto* worker = new WorkerThread(proc, parameter);
    const uintptr_t handle =
        _beginthreadex(nullptr, 0, &WorkerThread::Main, worker, CREATE_SUSPENDED, nullptr);
    if (handle == 0) {
        delete worker;
        return nullptr;
    }
    worker->m_thread = reinterpret_cast<HANDLE>(handle);
    if (!suspended) worker->Resume();
    return worker;
}

void WorkerThread::Resume() {
    ResumeThread(m_thread);
}

WorkerThread::~WorkerThread() {
    if (m_thread) CloseHandle(m_thread);
}

unsigned __stdcall WorkerThread::Main(void* self) {
    auto* worker = static_cast<WorkerThread*>(self);
    UINT result = 0;
    // Nothing may unwind out of a thread's start routine.
    try {
        result = worker->m_proc(worker->m_parameter);
    } catch (...) {
    }
    delete worker;
    return result;
}
