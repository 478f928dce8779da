#include "StagedFile.h"

#include "MonotonicClock.h"

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

// Our own files are opened for everything and shared with nobody. What cannot be opened so (a
// folder, a file another process holds, a read-only one) is not ours, and is left alone.
constexpr DWORD kOwnAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

HANDLE OpenOurs(const std::wstring& path, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileW(path.c_str(), kOwnAccess, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool IsFreeOrOurs(const std::wstring& path) {
    const HANDLE file = OpenOurs(path);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    CloseHandle(file);
    return true;
}

void RemoveIfOurs(const std::wstring& path) {
    const HANDLE file = OpenOurs(path, FILE_FLAG_DELETE_ON_CLOSE);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// The first temporary name whose part and record are both free or ours; -1 when none is.
int UsableChoice(const std::wstring& target) {
    for (int choice = 0; choice < StagedFile::kTemporaryNames; ++choice) {
        if (IsFreeOrOurs(StagedFile::TemporaryPath(target, choice)) &&
            IsFreeOrOurs(StagedFile::RecordPath(target, choice)))
            return choice;
    }
    return -1;
}

// The names a staging check creates and renames its probe under, beside the temporary file.
std::wstring ProbePath(const std::wstring& temporary, bool renamed) {
    return temporary + (renamed ? L".probed" : L".probe");
}

// A folder that refuses the account, as opposed to one where something else is in the way:
// only for the first may rights help.
StagedFile::Staging Refusal(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT
               ? StagedFile::Staging::NeedsRights
               : StagedFile::Staging::Blocked;
}
}  // namespace

StagedFile::StagedFile(std::wstring target) : m_target(std::move(target)) {
    const int choice = UsableChoice(m_target);
    if (choice < 0) return;
    m_temporary = TemporaryPath(m_target, choice);
    m_record = RecordPath(m_target, choice);
}

StagedFile::~StagedFile() {
    // Unless kept, the system deletes it.
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
}

std::wstring StagedFile::TemporaryPath(const std::wstring& target, int choice) {
    const std::wstring path = target + L".download";
    return choice == 0 ? path : path + std::to_wstring(choice + 1);
}

std::wstring StagedFile::RecordPath(const std::wstring& target, int choice) {
    return TemporaryPath(target, choice) + L".info";
}

void StagedFile::RemoveLeftover(const std::wstring& target) {
    for (const std::wstring& file : {target, PatchTarget(target)}) {
        for (int choice = 0; choice < kTemporaryNames; ++choice) {
            RemoveIfOurs(RecordPath(file, choice));
            RemoveIfOurs(TemporaryPath(file, choice));
        }
    }
}

StagedFile::Staging StagedFile::CheckStaging(const std::wstring& target) {
    const int choice = UsableChoice(target);
    if (choice < 0) return Staging::Blocked;
    const std::wstring probe = ProbePath(TemporaryPath(target, choice), false);
    const std::wstring renamed = ProbePath(TemporaryPath(target, choice), true);
    // Shared for everything, so that the rename may open it while it is held; the system
    // deletes it at the close under whichever name it then has, or when the process dies.
    const HANDLE file =
        CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Refusal(GetLastError());
    const bool moved = MoveFileExW(probe.c_str(), renamed.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    const DWORD error = GetLastError();
    CloseHandle(file);
    // Gone already where the disposition follows the file to its new name; not everywhere.
    if (moved) DeleteFileW(renamed.c_str());
    return moved ? Staging::Possible : Refusal(error);
}

bool StagedFile::Open() {
    if (m_temporary.empty()) return false;
    RemoveLeftover(m_target);
    m_kept = false;
    m_file = CreateFileW(m_temporary.c_str(), kOwnAccess, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return false;
    if (SetDeleteOnClose(true)) return true;
    CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    DeleteFileW(m_temporary.c_str());
    return false;
}

bool StagedFile::OpenKept(uint64_t length) {
    if (m_temporary.empty()) return false;
    m_file = OpenOurs(m_temporary);
    if (m_file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    // Kept only once taken up: a part shorter than its record is started again with Open,
    // whose new file must lose its delete disposition when kept or committed.
    m_kept = GetFileSizeEx(m_file, &size) && static_cast<uint64_t>(size.QuadPart) >= length &&
             SetLength(m_file, length);
    if (m_kept) return true;
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

bool StagedFile::Flush() {
    return m_file != INVALID_HANDLE_VALUE && FlushFileBuffers(m_file);
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
    const DWORD start = NowMs();
    for (;;) {
        if (MoveFileExW(m_temporary.c_str(), m_target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            break;
        if (!IsHeld(GetLastError()) || NowMs() - start >= retryMs) {
            RemoveLeftover(m_target);
            return false;
        }
        Sleep(kRetryPauseMs);
    }
    // The record, and anything of ours left under the other temporary names.
    RemoveLeftover(m_target);
    return true;
}
