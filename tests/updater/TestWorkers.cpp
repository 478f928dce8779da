#include "TestWorkers.h"

#include "DialogRun.h"
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

// Like a real run: binds to the dialog, takes the Start button, waits (here for the test),
// then clears the marker and gives the button back.
UINT AutoUpdateProc(LPVOID parameter) {
    DialogRun run(static_cast<UpdateDialog*>(parameter));
    const bool begun = run.Bound() && run.RunBegun();
    // Counted once the run holds Start, so a test that sees the start sees that too.
    ++Workers().runStarts;
    if (!begun) return 0;
    RunEnd end(run.Control(), run);
    if (Workers().asksForStep) run.StepStarted();
    WaitForSingleObject(Workers().releaseRun, 20000);
    Workers().flagSeenAtEnd = run.Control().StopRequested() ? 0 : 1;
    ++Workers().runsEnded;
    return 0;
}
