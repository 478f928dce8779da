// Linked into every test program: at its start the program puts itself into a job that ends
// every process in it when its last handle closes. Programs it starts (the updater, the
// registrar, their message boxes, the main program they start) join that job, so however the
// test program ends (its last test, a crash, a kill from Linux, ctest's time-out), nothing it
// started stays behind holding its output open or a window on the display.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

HANDLE JoinKillOnCloseJob() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Never closed by the program: the system closes it as the process ends, and that ends the job.
[[maybe_unused]] const HANDLE g_testJob = [] {
    const HANDLE job = JoinKillOnCloseJob();
    if (job == nullptr) {
        // Without it a killed test could leave its programs running: refuse to run at all.
        std::fprintf(stderr, "test program: cannot join a kill-on-close job (error %lu)\n",
                     GetLastError());
        std::exit(3);
    }
    return job;
}();

}  // namespace
