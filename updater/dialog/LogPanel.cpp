#include "LogPanel.h"

#include "CodePage.h"

namespace {
std::wstring PanelText(HWND panel) {
    const int length = GetWindowTextLengthW(panel);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(panel, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}
}  // namespace

void AppendLineToPanel(HWND dialog, int panelId, const GbkString& line) {
    HWND panel = GetDlgItem(dialog, panelId);
    if (!panel) return;
    GbkString text = ToGbk(PanelText(panel));
    // "100 or more": a wrapped line can step over 100, and the panel must still start over.
    const auto displayLines = SendMessageW(panel, EM_GETLINECOUNT, 0, 0);
    if (displayLines >= kLogPanelMaxLines) text.Empty();
    text += line;
    text += "\r\n";
    const std::wstring wide = ToWide(text);
    SetDlgItemTextW(dialog, panelId, wide.c_str());

    SetScrollPos(panel, SB_VERT, text.GetLength(), TRUE);
    // The edit control counts UTF-16 units: the end of the text is the wide length.
    const auto end = static_cast<WPARAM>(wide.size());
    SendMessageW(panel, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(panel, EM_SCROLLCARET, 0, 0);
}
