// The log panel's rules: each line is appended with CR LF; a panel that already shows 100
// display lines or more starts over; the caret ends at the end, in view.
#pragma once

#include <windows.h>

#include "GbkString.h"

constexpr int kLogPanelMaxLines = 100;

// Must run on the thread that owns the panel (the dialog's thread).
void AppendLineToPanel(HWND dialog, int panelId, const GbkString& line);
