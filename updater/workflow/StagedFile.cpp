#include "StagedFile.h"

namespace {
constexpr DWORD kRetryPauseMs = 100;

bool IsHeld(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}
}  // namespace

StagedFile::StagedFile(std::wstring target)
    : m_target(std::move(target)), m_temporary(TemporaryPath(m_target)) {}

StagedFile::~StagedFile() {
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);  // the system deletes it
}

std::wstring StagedFile::TemporaryPath(const std::wstring& target) {
    return target + L".download";
}

void StagedFile::RemoveLeftover(const std::wstring& target) {
    DeleteFileW(TemporaryPath(target).c_str());
}

bool StagedFile::Open() {
    RemoveLeftover(m_target);
    m_file = CreateFileW(m_temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return false;
    if (SetDeleteOnClose(true)) return true;
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    DeleteFileW(m_temporary.c_str());
    return false;
}

bool StagedFile::SetDeleteOnClose(bool remove) {
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(remove ? TRUE : FALSE)};
    return SetFileInformationByHandle(m_file, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}

bool StagedFile::Write(const void* data, DWORD size) {
    DWORD written = 0;
    return m_file != INVALID_HANDLE_VALUE && WriteFile(m_file, data, size, &written, nullptr) &&
           written == size;
}

bool StagedFile::Commit(DWORD retryMs) {
    if (m_file == INVALID_HANDLE_VALUE) return false;
    if (!FlushFileBuffers(m_file) || !SetDeleteOnClose(false)) return false;
    // From here a kill may leave the temporary file behind; the next run removes it.
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExW(m_temporary.c_str(), m_target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (!IsHeld(GetLastError()) || GetTickCount() - start >= retryMs) break;
        Sleep(kRetryPauseMs);
    }
    DeleteFileW(m_temporary.c_str());
    return false;
}
