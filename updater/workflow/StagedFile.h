// A new version of a file, written beside it under a fixed temporary name and put in its place
// only when complete. Until then the system deletes the temporary file whatever happens, even
// when the process is killed; the replacement itself is one rename, so the target is always
// either the old file or the whole new one.
#pragma once

#include <windows.h>

#include <string>

class StagedFile {
public:
    explicit StagedFile(std::wstring target);
    ~StagedFile();  // without Commit the temporary file goes, and the target stays as it was
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // The fixed temporary name beside target.
    static std::wstring TemporaryPath(const std::wstring& target);
    // Removes what a process killed in the middle of a replacement may have left.
    static void RemoveLeftover(const std::wstring& target);

    bool Open();
    bool Write(const void* data, DWORD size);
    // Puts the written file in the target's place. While the target is still held (by a
    // program that is ending), it tries again for up to retryMs. False leaves the target as
    // it was and removes the temporary file.
    bool Commit(DWORD retryMs = 10000);

private:
    bool SetDeleteOnClose(bool remove);
    std::wstring m_target;
    std::wstring m_temporary;
    HANDLE m_file = INVALID_HANDLE_VALUE;
};
