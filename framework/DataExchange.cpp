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
    const int length = GetWindowTextLengthW(control);
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(control, wide.data(), length + 1);
    wide.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    text = ToGbk(wide);
}
