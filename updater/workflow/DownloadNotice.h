// The download's progress notice, posted to the window a download reports to.
#pragma once

#include <windows.h>

// WPARAM is the percentage. Nothing else travels with it, since any process on the desktop
// can post it.
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_USER + 101;
