// Thin wrappers of the standard controls that the dialogs bind to their templates.
#pragma once

#include "Window.h"

#include <commctrl.h>

class Button : public Window {};

class StaticText : public Window {};

class Edit : public Window {
public:
    int GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
    void SetSel(int start, int end) const { SendMessage(EM_SETSEL, start, end); }
    void ScrollCaret() const { SendMessage(EM_SCROLLCARET); }
};

class ProgressBar : public Window {
public:
    void SetRange(int low, int high) const { SendMessage(PBM_SETRANGE32, low, high); }
    int SetPos(int position) const { return static_cast<int>(SendMessage(PBM_SETPOS, position)); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};
