#include "LinkOpening.h"

#include <shellapi.h>

#include <cstdio>
#include <vector>

#include "CodePage.h"
#include "ModulePath.h"

namespace {
constexpr int kShellDllNotFound = 32;  // SE_ERR_DLLNOTFOUND: the one answer that falls back
constexpr int kStarted = 33;
constexpr int kBadFormat = 11;

struct Reason {
    int code;
    const char* text;
};

const Reason kReasons[] = {
    {0, "The operating system is out\nof memory or resources."},
    {2, "The specified file was not found."},
    {3, "The specified path was not found."},
    {5, "The operating system denied\naccess to the specified file."},
    {8, "There was not enough memory to complete the operation."},
    {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {26, "A sharing violation occurred. "},
    {27, "The filename association is\nincomplete or invalid."},
    {28, "The DDE transaction could not\nbe completed because the request timed out."},
    {29, "The DDE transaction failed."},
    {30,
     "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
     "being processed."},
    {31, "There is no application associated\nwith the given filename extension."},
    {32, "The specified dynamic-link library was not found."},
};

// The registered command without its placeholder and what followed it.
std::wstring CutAtPlaceholder(const std::wstring& command) {
    const GbkString gbk = ToGbk(command);
    int cut = gbk.Find("\"%1\"");
    if (cut < 0) cut = gbk.Find("%1");
    return cut < 0 ? command : ToWide(std::string_view(gbk.Bytes()).substr(0, cut));
}
}  // namespace

int ShellOpenTarget(const std::wstring& target, int show) {
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, show);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

int OpenLinkTarget(const GbkString& target, int show, ShellOpen shell) {
    const int result = shell(ToWide(target), show);
    if (result != kShellDllNotFound) return result;
    const std::wstring command = HtmCommandFor(target);
    return command.empty() ? result : StartCommand(command, show);
}

std::wstring HtmCommandFor(const GbkString& target) {
    // A quote would end the argument early and let the rest of the target add arguments.
    if (target.Find('"') >= 0) return {};
    std::wstring type;
    if (ReadRegistryDefault(HKEY_CLASSES_ROOT, L".htm", type) != ERROR_SUCCESS) return {};
    std::wstring command;
    if (ReadRegistryDefault(HKEY_CLASSES_ROOT, type + L"\\shell\\open\\command", command) !=
        ERROR_SUCCESS)
        return {};
    return CutAtPlaceholder(command) + L" \"" + ToWide(target) + L"\"";
}

int StartCommand(const std::wstring& commandLine, int show) {
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return kStarted;
    }
    // WinExec's codes are the system's error codes below 32; larger ones say "bad format".
    const DWORD error = GetLastError();
    return error < kShellDllNotFound ? static_cast<int>(error) : kBadFormat;
}

LONG ReadRegistryDefault(HKEY root, const std::wstring& subKey, std::wstring& value) {
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (opened != ERROR_SUCCESS) return opened;
    DWORD type = 0;
    DWORD bytes = 0;
    LONG result = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes);
    if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        result = ERROR_INVALID_DATA;
    if (result == ERROR_SUCCESS) {
        std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
        result = RegQueryValueExW(key, nullptr, nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(text.data()), &bytes);
        if (result == ERROR_SUCCESS) value = text.data();
    }
    RegCloseKey(key);
    return result;
}

std::string OpenErrorText(int code) {
    std::string reason;
    for (const Reason& known : kReasons)
        if (known.code == code) reason = known.text;
    if (reason.empty()) {
        char text[64];
        std::snprintf(text, sizeof(text), "Unknown Error (%d) occurred.", code);
        reason = text;
    }
    return "Unable to open hyperlink:\n\n" + reason;
}

std::wstring ProgramBaseName() {
    const std::wstring path = ModuleFileName();
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) name.erase(dot);
    return name;
}

// The box carries the program's name, as every box of the program does.
void ShowOpenError(HWND owner, int code) {
    HWND top = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
    MessageBoxW(top, ToWide(std::string_view(OpenErrorText(code))).c_str(),
                ProgramBaseName().c_str(), MB_ICONEXCLAMATION);
}
