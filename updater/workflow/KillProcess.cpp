#include "KillProcess.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "CodePage.h"

void KillProcessByName(const char* name) {
    // Compared as UTF-16, so that the GBK name matches whatever the ANSI code page is.
    const std::wstring wanted = ToWide(std::string_view(name));
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (wcscmp(entry.szExeFile, wanted.c_str()) != 0) continue;
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(process, 0);
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}
