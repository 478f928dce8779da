#include "KillProcess.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <optional>
#include <string>

#include "CodePage.h"

namespace {

// The longest path that the wide calls take.
constexpr DWORD kLongestPath = 32768;

// A kernel handle, closed when the object goes away (null or INVALID_HANDLE_VALUE: none).
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    ~OwnedHandle() {
        if (IsOpen()) CloseHandle(m_handle);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    bool IsOpen() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// What makes a file itself, however its path is spelled: its volume and its index there.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;

    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
    // Attributes only, every sharing mode: a running program's image opens this way too.
    const OwnedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.IsOpen() || !GetFileInformationByHandle(file.Get(), &info)) return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// The path made full, "." and ".." resolved; empty when it cannot be.
std::wstring FullPath(const std::wstring& path) {
    std::wstring full(kLongestPath, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), kLongestPath, full.data(), nullptr);
    full.resize(length < kLongestPath ? length : 0);
    return full;
}

// The full path of the file that a process runs; false when it cannot be read.
bool ImageOf(HANDLE process, std::wstring& image) {
    image.assign(kLongestPath, L'\0');
    DWORD length = kLongestPath;
    if (!QueryFullProcessImageNameW(process, 0, image.data(), &length)) return false;
    image.resize(length);
    return true;
}

// The file about to be replaced, told apart from every other file.
class ImageFile {
public:
    explicit ImageFile(const std::wstring& path)
        : m_identity(IdentityOf(path)), m_fullPath(FullPath(path)) {}

    // True when `path` names this file. Where either file cannot be opened, the two full
    // paths are compared instead, ignoring case as the file system does.
    bool IsNamedBy(const std::wstring& path) const {
        if (m_identity) {
            if (const std::optional<FileIdentity> other = IdentityOf(path))
                return *other == *m_identity;
        }
        const std::wstring full = FullPath(path);
        return !full.empty() && !m_fullPath.empty() &&
               CompareStringOrdinal(full.c_str(), static_cast<int>(full.size()), m_fullPath.c_str(),
                                    static_cast<int>(m_fullPath.size()), TRUE) == CSTR_EQUAL;
    }

private:
    std::optional<FileIdentity> m_identity;
    std::wstring m_fullPath;
};

}  // namespace

void KillProcessByName(const char* name, const std::wstring& image) {
    // Compared as UTF-16, so that the GBK name matches whatever the ANSI code page is.
    const std::wstring wanted = ToWide(std::string_view(name));
    const ImageFile target(image);
    const OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsOpen()) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (wcscmp(entry.szExeFile, wanted.c_str()) != 0) continue;
        // The image is read from the opened process itself: were the id taken meanwhile by
        // another process, that one's own image would be judged.
        const OwnedHandle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                                              FALSE, entry.th32ProcessID));
        std::wstring running;
        if (process.IsOpen() && ImageOf(process.Get(), running) && target.IsNamedBy(running))
            TerminateProcess(process.Get(), 0);
    }
}
