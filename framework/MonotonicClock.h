// The one clock that intervals are measured with: milliseconds that only move forward, to the
// millisecond (the tick count moves in steps of about 16 ms on Windows, and some intervals of
// a download are shorter). Its value means nothing by itself; differences wrap like DWORDs.
#pragma once

#include <windows.h>

DWORD NowMs();

// How often a wait looks again at what may end it (a stop, a limit).
constexpr DWORD kPollMs = 25;
