// Helpers shared by the test programs: temporary folders, the built programs, child
// processes, other processes' windows and whole-file reads and writes. Paths are wide.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under %TEMP%, removed with everything in it when the object goes away.
// The leaf name may be given (any characters, blanks included); a unique suffix is added
// so that test runs never share a folder.
class TempDir {
public:
    explicit TempDir(const std::wstring& leafName = L"qv-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    // Full path of an entry of the folder.
    std::wstring File(const std::wstring& name) const;

private:
    std::wstring m_path;
};

// Removes a folder and everything below it; false if something was left.
bool RemoveTree(const std::wstring& path);

// Folder of the running program, without the final backslash.
std::wstring RunningProgramFolder();

// Full path of a program or DLL built into build/<preset>/bin (test programs live in
// build/<preset>/tests/bin).
std::wstring BuiltProgramPath(const std::wstring& fileName);

// A started program. Killed on destruction if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with the command-line tail `arguments` in `workingFolder` (the
    // program's own folder when empty). False if CreateProcessW fails.
    bool Start(const std::wstring& program, const std::wstring& arguments = L"",
               const std::wstring& workingFolder = L"");
    // True once the process has ended, false if it still runs after `timeoutMs`.
    bool WaitForExit(DWORD timeoutMs);
    // Exit code once ended (STILL_ACTIVE while it runs).
    DWORD ExitCode() const;
    DWORD Id() const { return m_id; }
    HANDLE Handle() const { return m_process; }
    void Kill();

private:
    HANDLE m_process = nullptr;
    DWORD m_id = 0;
};

// Visible and hidden top-level windows that belong to process `processId`.
std::vector<HWND> TopLevelWindowsOf(DWORD processId);

// Waits (at most `timeoutMs`) for a top-level window of the process for which `match` is
// true; nullptr if none came. Ends early when `stillWaiting` (if given) returns false.
HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs,
                   const std::function<bool()>& stillWaiting = {});

// A window's text, read with WM_GETTEXT (works across processes).
std::wstring WindowText(HWND window);
// Window class name, e.g. L"#32770" for dialogs and message boxes.
std::wstring WindowClass(HWND window);
// A direct or indirect child with control id `id`, or nullptr.
HWND FindChildById(HWND parent, int id);
// Presses the button with control id `id` of `dialog` as a click would: the dialog gets
// WM_COMMAND with BN_CLICKED (sent, waiting at most 5 s). False if there is no such button.
bool PressButton(HWND dialog, int id);

// Control id of a message box's text (the static control that shows it).
constexpr int kMessageBoxTextId = 0xFFFF;

// Whole-file helpers. ReadFileBytes returns false if the file cannot be read.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
bool FileExists(const std::wstring& path);
bool CopyFileTo(const std::wstring& from, const std::wstring& to);

}  // namespace testsupport
