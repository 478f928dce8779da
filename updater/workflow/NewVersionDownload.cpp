#include "NewVersionDownload.h"

#include <optional>
#include <vector>

#include "ApplyPatch.h"
#include "BodyChecks.h"
#include "PartRecord.h"
#include "PatchFormat.h"
#include "RecordText.h"
#include "Sha256.h"
#include "StagedFile.h"

namespace {

const char kPatchBegun[] = "* 正在下载增量更新…";
const char kPatchFailed[] = "* 增量更新未能使用,正在下载完整更新…";

// What the patched file is named by in its record: it was not downloaded, so no server's
// validator names it; a record lets a later run find it whole, as a whole download.
constexpr wchar_t kPatchedValidator[] = L"patched";

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
                static_cast<uint64_t>(size.QuadPart) < (uint64_t{1} << 31);
    if (read) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = bytes.empty() ||
               (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                got == bytes.size());
    }
    CloseHandle(file);
    return read;
}

// A part of the whole download for this offer is kept: going on from it costs no more than a
// patch, and a whole one needs nothing at all.
bool WholePartKept(const GbkString& address, const std::wstring& path, const DownloadHooks& hooks) {
    StagedFile file(path);
    DownloadRecord kept;
    return !file.Record().empty() && LoadDownloadRecord(file.Record(), kept) &&
           kept.SameOffer(address, hooks.version, hooks.expected);
}

enum class Patched { Done, Stopped, Failed };

// The installed program's bytes and their digest, taken once for the patch's address and its
// check.
struct InstalledProgram {
    std::vector<uint8_t> bytes;
    std::array<uint8_t, 32> sha256{};
};

// The new file made from the patch's bytes and the installed program's, written and checked as
// a whole download's body, then put in place (or held) as one.
Patched ApplyAndFinish(HWND notify, const InstalledProgram& old, const std::vector<uint8_t>& patch,
                       const GbkString& address, const std::wstring& path,
                       const DownloadHooks& hooks, HeldDownload* held) {
    PatchHeader header;
    if (!ReadPatchHeader(patch, header) || old.sha256 != header.oldSha256) return Patched::Failed;
    // With a release key the signed file decides; the patch must make exactly that.
    const ExpectedFile made{header.newSize, header.newSha256};
    if (hooks.expected && !(*hooks.expected == made)) return Patched::Failed;
    const std::optional<ExpectedFile> expected = made;
    BodyChecks checks(expected);
    StagedFile file(path);
    if (!file.Open()) return Patched::Failed;
    uint64_t written = 0;
    const PatchResult result = ApplyPatch(old.bytes, patch, [&](const uint8_t* data, size_t size) {
        const auto* bytes = reinterpret_cast<const char*>(data);
        if (!checks.Add(bytes, size) || !file.Write(bytes, static_cast<DWORD>(size))) return false;
        written += size;
        return true;
    });
    if (result != PatchResult::Applied || !checks.Whole(written, true)) {
        file.Discard();
        return Patched::Failed;
    }
    DownloadRecord record{.address = address,
                          .version = hooks.version,
                          .expected = hooks.expected,
                          .validator = kPatchedValidator};
    PartRecord part(file, record);
    part.Begin(kPatchedValidator, written);
    part.Written(static_cast<DWORD>(written));
    return FinishDownload(notify, file, part, hooks, held) == 0 ? Patched::Done : Patched::Failed;
}

// The patch for the installed program, if the server has one.
Patched TryPatch(HWND notify, const GbkString& address, const std::wstring& installed,
                 const std::wstring& path, const DownloadHooks& hooks, HeldDownload* held) {
    InstalledProgram old;
    if (!ReadWholeFile(installed, old.bytes) ||
        !Sha256Of(old.bytes.data(), old.bytes.size(), old.sha256))
        return Patched::Failed;
    const GbkString patchAddress = PatchAddress(address, old.sha256);
    if (patchAddress.IsEmpty()) return Patched::Failed;

    DownloadHooks patchHooks = hooks;
    patchHooks.program = false;
    patchHooks.expected.reset();
    patchHooks.rejected = nullptr;
    patchHooks.replaced = nullptr;
    bool begun = false;
    patchHooks.begun = [&] {
        if (!begun && hooks.report) hooks.report->Log(kPatchBegun);
        begun = true;
    };
    HeldDownload patchFile;
    const std::wstring patchTarget = StagedFile::PatchTarget(path);
    if (DownloadFile(notify, patchAddress, patchTarget, patchHooks, &patchFile) != 0) {
        if (begun && hooks.report) hooks.report->Log(kPatchFailed);
        StagedFile::RemoveLeftover(patchTarget);
        return Patched::Failed;
    }
    if (patchFile.path.empty()) return Patched::Stopped;
    std::vector<uint8_t> patch;
    const bool read = ReadWholeFile(patchFile.path, patch);
    // Whatever comes of it, the patch is not needed again.
    StagedFile::RemoveLeftover(patchTarget);
    const Patched outcome =
        read ? ApplyAndFinish(notify, old, patch, address, path, hooks, held) : Patched::Failed;
    if (outcome == Patched::Failed && hooks.report) hooks.report->Log(kPatchFailed);
    return outcome;
}

}  // namespace

GbkString PatchAddress(const GbkString& downloadAddress, const std::array<uint8_t, 32>& installed) {
    const std::string address = downloadAddress.Bytes();
    const size_t scheme = address.find("://");
    const size_t slash = address.rfind('/');
    if (scheme == std::string::npos || slash == std::string::npos || slash < scheme + 3 ||
        address.find_first_of("?#") != std::string::npos)
        return {};
    return GbkString(address.substr(0, slash + 1) + "from/" + ToHex(installed));
}

int DownloadNewVersion(HWND notify, const GbkString& address, const std::wstring& installed,
                       const std::wstring& path, const DownloadHooks& hooks, HeldDownload* held) {
    if (!WholePartKept(address, path, hooks)) {
        const Patched patched = TryPatch(notify, address, installed, path, hooks, held);
        if (patched == Patched::Done || patched == Patched::Stopped) return 0;
        if (hooks.stopRequested && hooks.stopRequested()) return 0;
    }
    return DownloadFile(notify, address, path, hooks, held);
}
