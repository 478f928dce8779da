/* Stands in for a browser: writes the command line it was started with, as UTF-16, to the
   file that QV_RECORD_FILE names (nothing when it is not set). */
#include <windows.h>

int main(void) {
    wchar_t path[1024];
    if (!GetEnvironmentVariableW(L"QV_RECORD_FILE", path, 1024)) return 0;
    const wchar_t* line = GetCommandLineW();
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)(lstrlenW(line) * sizeof(wchar_t)), &written, NULL);
    CloseHandle(file);
    return 0;
}
