#include "WorkerProcs.h"

// The installed version and the links' targets are not loaded yet: the dialog keeps its
// placeholder version and its links stay as the template has them.
UINT LoadInfoProc(LPVOID) {
    return 0;
}
