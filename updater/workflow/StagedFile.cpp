#include "StagedFile.h"

#include <algorithm>
#include <vector>

namespace {
constexpr DWORD kRetryPauseMs = 100;
constexpr DWORD kReadBackBytes = 1 << 20;

bool IsHeld(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION;
}

bool SetLength(HANDLE file, uint64_t length) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}
}  // namespace

StagedFile::StagedFile(std::wstring target)
    : m_target(std::move(target)), m_temporary(TemporaryPath(m_target)) {}

StagedFile::~StagedFile() {
    // Unless kept, the system deletes it.
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
}

std::wstring StagedFile::TemporaryPath(const std::wstring& target) {
    return target + L".download";
}

std::wstring StagedFile::RecordPath(const std::wstring& target) {
    return TemporaryPath(target) + L".info";
}

void StagedFile::RemoveLeftover(const std::wstring& target) {
    DeleteFileW(RecordPath(target).c_str());
    DeleteFileW(TemporaryPath(target).c_str());
}

bool StagedFile::Open() {
    RemoveLeftover(m_target);
    m_file = CreateFileW(m_temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return false;
    if (SetDeleteOnClose(true)) return true;
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    DeleteFileW(m_temporary.c_str());
    return false;
}

bool StagedFile::OpenKept(uint64_t length) {
    m_file = CreateFileW(m_temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return false;
    m_kept = true;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(m_file, &size) && static_cast<uint64_t>(size.QuadPart) >= length &&
        SetLength(m_file, length))
        return true;
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    return false;
}

bool StagedFile::ReadBack(const std::function<void(const char*, DWORD)>& take) {
    LARGE_INTEGER end{}, start{};
    if (!SetFilePointerEx(m_file, start, &end, FILE_CURRENT) ||
        !SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN))
        return false;
    std::vector<char> buffer(kReadBackBytes);
    for (uint64_t left = static_cast<uint64_t>(end.QuadPart); left > 0;) {
        DWORD got = 0;
        const auto wanted = static_cast<DWORD>(std::min<uint64_t>(left, buffer.size()));
        if (!ReadFile(m_file, buffer.data(), wanted, &got, nullptr) || got != wanted) return false;
        take(buffer.data(), got);
        left -= got;
    }
    return true;
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

bool StagedFile::Empty() {
    return m_file != INVALID_HANDLE_VALUE && SetLength(m_file, 0);
}

bool StagedFile::Keep() {
    if (m_file == INVALID_HANDLE_VALUE || !FlushFileBuffers(m_file)) return false;
    if (!m_kept) m_kept = SetDeleteOnClose(false);
    return m_kept;
}

void StagedFile::Discard() {
    if (m_file != INVALID_HANDLE_VALUE) {
        SetDeleteOnClose(true);
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    RemoveLeftover(m_target);
}

bool StagedFile::Commit(DWORD retryMs) {
    if (m_file == INVALID_HANDLE_VALUE) return false;
    if (!FlushFileBuffers(m_file) || (!m_kept && !SetDeleteOnClose(false))) return false;
    // From here a kill may leave the temporary file behind; the next run removes it.
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    const DWORD start = GetTickCount();
    for (;;) {
        if (MoveFileExW(m_temporary.c_str(), m_target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        if (!IsHeld(GetLastError()) || GetTickCount() - start >= retryMs) {
            RemoveLeftover(m_target);
            return false;
        }
        Sleep(kRetryPauseMs);
    }
    DeleteFileW(RecordPath(m_target).c_str());
    return true;
}
