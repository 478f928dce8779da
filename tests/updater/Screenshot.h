// Saves what the screen shows of a window (any process's) as a 24-bit BMP file, only when what
// the screen shows there is that process's own: the display is shared, and another program's
// window in front would otherwise be saved as if it were this one's.
#pragma once

#include <windows.h>

#include <string>

struct ShotInfo {
    bool saved = false;
    int width = 0, height = 0;
    int distinctColours = 0;  // counted up to 1000
    bool covered = false;     // another process's window stood at a photographed point
};

ShotInfo SaveWindowShot(HWND window, const std::wstring& path);
