#include "TestSupport.h"

#include "ModulePath.h"

namespace testsupport {

std::wstring RunningProgramFolder() {
    const std::wstring path = ModuleFileName();
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring BuiltProgramPath(const std::wstring& fileName) {
    const std::wstring relative = RunningProgramFolder() + L"\\..\\..\\bin\\" + fileName;
    wchar_t full[4096];
    const DWORD length = GetFullPathNameW(relative.c_str(), 4096, full, nullptr);
    return length > 0 && length < 4096 ? std::wstring(full, length) : relative;
}

ChildProcess::~ChildProcess() {
    Kill();
    if (m_process != nullptr) CloseHandle(m_process);
}

bool ChildProcess::Start(const std::wstring& program, const std::wstring& arguments,
                         const std::wstring& workingFolder) {
    if (m_process != nullptr) return false;
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::wstring folder = workingFolder;
    if (folder.empty()) folder = program.substr(0, program.find_last_of(L'\\'));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    // Under Wine a new process now and then dies while its loader sets it up, before any of
    // its code runs; CreateProcess then reports ERROR_INTERNAL_ERROR. That says nothing about
    // the program under test, so such a start is tried again a bounded number of times.
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.c_str(), &startup, &info)) {
            break;
        }
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == kAttempts) return false;
        Sleep(200);
    }
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_id = info.dwProcessId;
    return true;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return m_process != nullptr && WaitForSingleObject(m_process, timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (m_process != nullptr) GetExitCodeProcess(m_process, &code);
    return code;
}

void ChildProcess::Kill() {
    if (m_process != nullptr && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
}

}  // namespace testsupport
