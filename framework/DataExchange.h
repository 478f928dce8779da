// Moves data between a dialog's members and its controls: binds member controls to the
// template's controls, and copies texts in (when the dialog starts) or out.
#pragma once

#include <windows.h>

#include "GbkString.h"

class Window;

class DataExchange {
public:
    DataExchange(HWND dialog, bool saving) : m_dialog(dialog), m_saving(saving) {}

    bool IsSaving() const { return m_saving; }

    // Attaches the member to the control with this id, once.
    void Control(int id, Window& control) const;
    // Puts text into the control, or reads it back when saving.
    void Text(int id, GbkString& text) const;

private:
    HWND m_dialog;
    bool m_saving;
};
