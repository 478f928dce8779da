// The dialog's worker threads. Each takes the UpdateDialog as its parameter and returns 0.
#pragma once

#include <windows.h>

// Reads the installed version and the links' targets.
UINT LoadInfoProc(LPVOID parameter);
// One automatic update run: at most one at a time; it clears the dialog's run marker and
// gives the Start button back when it ends.
UINT AutoUpdateProc(LPVOID parameter);
