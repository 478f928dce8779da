#include "UserDownloads.h"

#include <windows.h>
#include <shlobj.h>

#include <array>

#include "LocalFiles.h"
#include "RecordText.h"
#include "Sha256.h"

namespace {

constexpr size_t kNameDigits = 16;

std::wstring LocalAppData() {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &path)))
        folder = path;
    CoTaskMemFree(path);
    return folder;
}

// A name for the installation folder that stays the same however its path is written.
std::wstring FolderName(const std::wstring& installFolder) {
    const std::wstring canonical = CanonicalFolder(installFolder);
    std::array<uint8_t, 32> digest{};
    if (canonical.empty() ||
        !Sha256Of(canonical.data(), canonical.size() * sizeof(wchar_t), digest))
        return {};
    const std::string hex = ToHex(digest);
    return std::wstring(hex.begin(), hex.begin() + kNameDigits);
}

bool MakeFolder(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::wstring UserDownloadTarget(const std::wstring& mainProgram) {
    const std::wstring base = LocalAppData();
    const std::wstring installFolder = FolderOf(mainProgram);
    const std::wstring name = FolderName(installFolder);
    if (base.empty() || installFolder.empty() || name.empty()) return {};
    return base + L"\\Qorvel\\Updates\\" + name + mainProgram.substr(installFolder.size());
}

bool MakeUserDownloadFolder(const std::wstring& target) {
    const std::wstring folder = FolderOf(target);
    const std::wstring updates = FolderOf(folder);
    return !folder.empty() && MakeFolder(FolderOf(updates)) && MakeFolder(updates) &&
           MakeFolder(folder);
}
