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

std::wstring Lowercase(const std::wstring& text) {
    std::wstring lower = text;
    if (!lower.empty())
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.c_str(),
                      static_cast<int>(text.size()), lower.data(), static_cast<int>(lower.size()),
                      nullptr, nullptr, 0);
    return lower;
}

// A name for the installation folder that stays the same whatever case it is written in.
std::wstring FolderName(const std::wstring& installFolder) {
    const std::wstring lower = Lowercase(installFolder);
    Sha256 hash;
    std::array<uint8_t, 32> digest{};
    if (!hash.Add(lower.data(), static_cast<ULONG>(lower.size() * sizeof(wchar_t))) ||
        !hash.Finish(digest))
        return {};
    const std::string hex = ToHex(std::string(digest.begin(), digest.end()));
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
