// The dialog's two thread entries: each binds itself to the dialog once and then knows only
// the run's settings, control and report.
#include "WorkerProcs.h"

#include "DialogRun.h"
#include "LoadInfo.h"
#include "UpdateDialog.h"
#include "UpdateRun.h"

UINT LoadInfoProc(LPVOID parameter) {
    DialogRun run(static_cast<UpdateDialog*>(parameter));
    if (run.Bound()) LoadInfo(run.Settings(), run);
    return 0;
}

UINT AutoUpdateProc(LPVOID parameter) {
    DialogRun run(static_cast<UpdateDialog*>(parameter));
    if (run.Bound()) RunUpdate(run.Settings(), run.Control(), run);
    return 0;
}
