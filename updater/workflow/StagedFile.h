// A new version of a file, written beside it under a temporary name and put in its place only
// when complete; the replacement itself is one rename, so the target is always either the old
// file or the whole new one. While the download cannot be resumed the system deletes the
// temporary file whatever happens, even when the process is killed; once it can (Keep), the
// part stays for a later run, with its record beside it.
//
// The temporary name is fixed, so that the next run finds the part. Something that is not ours
// under that name (a folder, a file another process holds) would block every update until the
// user removed it: then the next of a few other fixed names is used, the same in every run
// while the obstacle stays. Only files we can open for everything, shared with nobody, count as
// ours; nothing else is ever opened for writing or removed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

class StagedFile {
public:
    // How many temporary names beside the target are tried, the fixed one first.
    static constexpr int kTemporaryNames = 3;

    explicit StagedFile(std::wstring target);
    ~StagedFile();  // without Commit the target stays as it was
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // A temporary name beside target (choice 0 is the fixed one: "<target>.download", then
    // "<target>.download2", ...), and the name of that part's record ("<name>.info").
    static std::wstring TemporaryPath(const std::wstring& target, int choice = 0);
    static std::wstring RecordPath(const std::wstring& target, int choice = 0);
    // Removes our parts and records under every temporary name, and what a process killed in
    // the middle of a replacement may have left; also those of a patch for target, which is
    // downloaded as the file PatchTarget(target).
    static void RemoveLeftover(const std::wstring& target);
    static std::wstring PatchTarget(const std::wstring& target) { return target + L".patch"; }
    // Whether the replacement can be written beside target, proven with the calls it uses: a
    // file is created and renamed there, and goes when it is closed. Asked before anything is
    // ended for the update: nothing stays behind.
    enum class Staging {
        Possible,
        Blocked,      // every temporary name is taken by something not ours, or no folder
        NeedsRights,  // the folder refuses this account (a per-machine installation)
    };
    static Staging CheckStaging(const std::wstring& target);

    // The names this file uses: the first temporary name whose part and record are both free
    // or ours. Empty when every one is taken; the file then cannot be opened.
    const std::wstring& Temporary() const { return m_temporary; }
    const std::wstring& Record() const { return m_record; }

    // A new, empty file, removed when it is closed unless kept.
    bool Open();
    // The part a run before left, cut back to the length its record gives: a tail written but
    // never flushed and recorded (zeros after a power cut, say) is never taken for data.
    // False when there is no such file or it is shorter; it is then left as it was.
    bool OpenKept(uint64_t length);
    // The part's bytes from its start, handed on a megabyte at a time. False when they
    // cannot be read.
    bool ReadBack(const std::function<void(const char*, DWORD)>& take);
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    bool Write(const void* data, DWORD size);
    // The file starts again, empty.
    bool Empty();
    // What was written reaches the disk; the file still goes when it is closed, unless kept.
    bool Flush();
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
    std::wstring m_record;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    bool m_kept = false;  // the open file has no delete disposition
};
