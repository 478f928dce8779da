#include "InstallStep.h"

#include <optional>
#include <vector>

#include "BodyChecks.h"
#include "KillProcess.h"
#include "LocalFiles.h"
#include "ReleaseSignature.h"
#include "RunSettings.h"
#include "SignedRecord.h"
#include "StagedFile.h"
#include "VersionOrder.h"

namespace {

constexpr DWORD kCopyBytes = 1 << 20;

// What the file must be. In builds with a key the request must be what the vendor signed:
// whoever started the step, only the vendor's bytes can be installed.
std::optional<ExpectedFile> ExpectedOffer(const InstallRequest& request,
                                          const GbkString& releaseKey) {
    const ExpectedFile handed{request.size, request.sha256};
    if (releaseKey.IsEmpty()) return handed;
    SignedRecord record;
    ReleaseKey key;
    if (!ParseSignedRecord(request.record, record) || !key.Load(releaseKey.c_str()) ||
        !key.Verifies(record.signedBytes, record.signature))
        return std::nullopt;
    if (!(record.version == request.version) ||
        !(ExpectedFile{record.size, record.digest} == handed))
        return std::nullopt;
    return handed;
}

// The downloaded file, opened so that nobody can write, rename or delete it while the step
// reads it; a file another process holds open for writing does not open.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path)
        : m_handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {}
    ~HeldFile() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool IsFile() const {
        return m_handle != INVALID_HANDLE_VALUE && GetFileType(m_handle) == FILE_TYPE_DISK;
    }
    bool HasSize(uint64_t size) const {
        LARGE_INTEGER actual{};
        return GetFileSizeEx(m_handle, &actual) && static_cast<uint64_t>(actual.QuadPart) == size;
    }
    HANDLE Handle() const { return m_handle; }

private:
    HANDLE m_handle;
};

// The version check that a replayed old offer cannot pass: the file says it is the offered
// version, and that is newer than what is installed.
bool IsOfferedAndNewer(const std::wstring& file, const GbkString& version,
                       const std::wstring& target) {
    return GetFileVersionString(file) == version &&
           IsNewerVersion(GetFileVersionString(target), version);
}

// Reads the held file once, from its start, into the staged copy, proving on the way that it
// is the expected file and a whole program.
InstallExit CopyChecked(const HeldFile& source, const std::optional<ExpectedFile>& expected,
                        StagedFile& staged) {
    BodyChecks checks(expected);
    std::vector<char> buffer(kCopyBytes);
    uint64_t total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source.Handle(), buffer.data(), kCopyBytes, &got, nullptr))
            return InstallExit::FileUnusable;
        if (got == 0) break;
        if (!checks.Add(buffer.data(), got)) return InstallExit::NotTheOffer;
        if (!staged.Write(buffer.data(), got)) return InstallExit::CannotWrite;
        total += got;
    }
    return checks.Whole(total, true) ? InstallExit::Installed : InstallExit::NotTheOffer;
}

}  // namespace

InstallExit RunInstallStep(const InstallRequest& request, const GbkString& releaseKey) {
    // Never from the command line: the step replaces only the program beside itself.
    const std::wstring target = ProductFile(kTrialProgram);
    const std::optional<ExpectedFile> expected = ExpectedOffer(request, releaseKey);
    if (!expected) return InstallExit::NotTheOffer;
    const HeldFile source(request.file);
    if (!source.IsFile()) return InstallExit::FileUnusable;
    if (!source.HasSize(expected->size)) return InstallExit::NotTheOffer;
    if (!IsOfferedAndNewer(request.file, request.version, target)) return InstallExit::NotNewer;

    // Open removes a stale part and its record beside the target first. Until Commit the copy
    // has a delete disposition: a step killed now leaves nothing there.
    StagedFile staged(target);
    if (!staged.Open()) return InstallExit::CannotWrite;
    const InstallExit copied = CopyChecked(source, expected, staged);
    if (copied != InstallExit::Installed) return copied;
    // The copy is on the disk before anything is ended: the step has proved it can write here.
    if (!staged.Flush()) return InstallExit::CannotWrite;

    KillProcessByName(kTrialProgram, target);
    return staged.Commit() ? InstallExit::Installed : InstallExit::CannotReplace;
}

InstallExit RunInstallCommand(const wchar_t* arguments, const GbkString& releaseKey) {
    InstallRequest request;
    if (!ParseInstallArguments(arguments, request)) return InstallExit::BadCommandLine;
    return RunInstallStep(request, releaseKey);
}
