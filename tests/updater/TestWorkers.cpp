#include "TestWorkers.h"

#include "ObjectLifetime.h"
#include "UpdateDialog.h"
#include "WorkerProcs.h"

TestWorkers& Workers() {
    static TestWorkers workers;
    return workers;
}

UINT LoadInfoProc(LPVOID) {
    ++Workers().loadInfoStarts;
    return 0;
}

// Like a real run: takes the Start button, raises the download flag, waits (here for the
// test), then gives the button back and clears the marker.
UINT AutoUpdateProc(LPVOID parameter) {
    auto* dialog = static_cast<UpdateDialog*>(parameter);
    {
        ObjectLifetime::Access access(dialog);
        if (access) {
            dialog->m_btnStart.EnableWindow(false);
            dialog->m_bDownloadRunning = 1;
        }
        // Counted once the run holds Start, so a test that sees the start sees that too.
        ++Workers().runStarts;
        if (!access) return 0;
    }
    WaitForSingleObject(Workers().releaseRun, 20000);
    ObjectLifetime::Access access(dialog);
    if (!access) return 0;
    Workers().flagSeenAtEnd = dialog->m_bDownloadRunning.load();
    dialog->m_btnStart.EnableWindow(true);
    dialog->m_pUpdateThread = nullptr;
    ++Workers().runsEnded;
    return 0;
}
