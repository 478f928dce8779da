#include "LogPanel.h"

#include "CodePage.h"

void AppendLineToPanel(HWND dialog, int panelId, const GbkString& line) {
    HWND panel = GetDlgItem(dialog, panelId);
    if (!panel) return;
    const std::wstring added = ToWide(line + "\r\n");
    // "100 or more": a wrapped line can step over 100, and the panel must still start over.
    const auto displayLines = SendMessageW(panel, EM_GETLINECOUNT, 0, 0);
    if (displayLines >= kLogPanelMaxLines) {
        SetDlgItemTextW(dialog, panelId, added.c_str());
    } else {
        // Adding at the end instead of rewriting the whole text spares the panel laying out
        // every line again; the text that results is the same.
        SendMessageW(panel, EM_SETLIMITTEXT, 0, 0);  // no length limit on what we add
        const auto end = static_cast<WPARAM>(GetWindowTextLengthW(panel));
        SendMessageW(panel, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(panel, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    }
    // Caret at the end with nothing selected, and the last line in view.
    const auto end = static_cast<WPARAM>(GetWindowTextLengthW(panel));
    SendMessageW(panel, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(panel, EM_SCROLLCARET, 0, 0);
}
