// Saves what the screen shows of a window (any process's) as a 24-bit BMP file.
#pragma once

#include <windows.h>

#include <string>

struct ShotInfo {
    bool saved = false;
    int width = 0, height = 0;
    int distinctColours = 0;  // counted up to 1000
};

ShotInfo SaveWindowShot(HWND window, const std::wstring& path);
