#include "DataExchange.h"

#include "CodePage.h"
#include "Window.h"

void DataExchange::Control(int id, Window& control) const {
    if (!control.m_hWnd) control.Subclass(GetDlgItem(m_dialog, id));
}

void DataExchange::Text(int id, GbkString& text) const {
    HWND control = GetDlgItem(m_dialog, id);
    if (!control) return;
    if (!m_saving) {
        SetWindowTextW(control, ToWide(text).c_str());
        return;
    }
    text = WindowTextOf(control);
}
