// updater-logwatch: prints the lines of the updater's log panel as they appear, in UTF-8, one
// per line, reading the panel of the update dialog from outside (WM_GETTEXT). Ends once the
// dialog is gone, or after the seconds given (default 120). For the demonstration's script.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "resource_ids.h"

namespace {

struct Found {
    HWND log = nullptr;
};

BOOL CALLBACK FindUpdateDialog(HWND window, LPARAM lParam) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    HWND log = GetDlgItem(window, IDC_LOG);
    if (std::wcscmp(name, L"#32770") == 0 && log != nullptr && IsWindowVisible(window)) {
        reinterpret_cast<Found*>(lParam)->log = log;
        return FALSE;
    }
    return TRUE;
}

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 1000, &copied);
    text.resize(copied);
    return text;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    for (size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

void Print(const std::wstring& line) {
    const std::wstring withEnd = line + L"\n";
    const int size = WideCharToMultiByte(
        CP_UTF8, 0, withEnd.data(), static_cast<int>(withEnd.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, withEnd.data(), static_cast<int>(withEnd.size()), bytes.data(),
                        size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const DWORD limitMs = (argc > 1 ? static_cast<DWORD>(_wtoi(argv[1])) : 120) * 1000;
    const DWORD start = GetTickCount();
    Found found;
    std::vector<std::wstring> printed;
    while (GetTickCount() - start < limitMs) {
        if (found.log == nullptr || !IsWindow(found.log)) {
            if (found.log != nullptr) return 0;  // the dialog has closed
            EnumWindows(FindUpdateDialog, reinterpret_cast<LPARAM>(&found));
        }
        if (found.log != nullptr) {
            const std::vector<std::wstring> lines = Lines(TextOf(found.log));
            // The panel is emptied at the start of a run: then every line is new.
            size_t same = 0;
            while (same < lines.size() && same < printed.size() && lines[same] == printed[same])
                ++same;
            if (same < printed.size()) same = 0;
            for (size_t i = same; i < lines.size(); ++i) Print(lines[i]);
            if (!lines.empty() || printed.empty()) printed = lines;
        }
        Sleep(20);
    }
    return 1;
}
