// A new version of a file, written beside it under a fixed temporary name and put in its place
// only when complete; the replacement itself is one rename, so the target is always either the
// old file or the whole new one. While the download cannot be resumed the system deletes the
// temporary file whatever happens, even when the process is killed; once it can (Keep), the
// part stays for a later run, with its record beside it under a fixed name too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

class StagedFile {
public:
    explicit StagedFile(std::wstring target);
    ~StagedFile();  // without Commit the target stays as it was
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // The fixed temporary name beside target, and the name of the part's record.
    static std::wstring TemporaryPath(const std::wstring& target);
    static std::wstring RecordPath(const std::wstring& target);
    // Removes the part and its record, and what a process killed in the middle of a
    // replacement may have left.
    static void RemoveLeftover(const std::wstring& target);

    // A new, empty file, removed when it is closed unless kept.
    bool Open();
    // The part a run before left, cut back to the length its record gives: a tail written but
    // never flushed and recorded (zeros after a power cut, say) is never taken for data.
    // False when there is no such file or it is shorter.
    bool OpenKept(uint64_t length);
    // The part's bytes from its start, handed on a megabyte at a time. False when they
    // cannot be read.
    bool ReadBack(const std::function<void(const char*, DWORD)>& take);
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    bool Write(const void* data, DWORD size);
    // The file starts again, empty.
    bool Empty();
    // What was written reaches the disk, and the file stays when it is closed or the process
    // dies: it may be resumed.
    bool Keep();
    // Removes the file and its record.
    void Discard();
    // Puts the written file in the target's place. While the target is still held (by a
    // program that is ending), it tries again for up to retryMs. False leaves the target as
    // it was and removes the temporary file.
    bool Commit(DWORD retryMs = 10000);

private:
    bool SetDeleteOnClose(bool remove);
    std::wstring m_target;
    std::wstring m_temporary;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    bool m_kept = false;
};
