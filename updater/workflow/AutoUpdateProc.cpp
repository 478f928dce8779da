#include "ObjectLifetime.h"
#include "UpdateDialog.h"
#include "WorkerProcs.h"

// The update stages (server check, download, replacing the main program) are not built yet:
// a run ends at once, claims nothing, and leaves the dialog ready for the next one.
UINT AutoUpdateProc(LPVOID parameter) {
    auto* dialog = static_cast<UpdateDialog*>(parameter);
    ObjectLifetime::Access access(dialog);
    if (!access) return 0;
    dialog->m_btnStart.EnableWindow(true);
    dialog->m_pUpdateThread = nullptr;
    return 0;
}
