#include "LocalFiles.h"

#include <windows.h>

#include <vector>

#include "CodePage.h"
#include "ModulePath.h"

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

namespace {

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    return full;
}

std::wstring LowerCase(const std::wstring& text) {
    if (text.empty()) return text;
    std::wstring lower(text.size(), L'\0');
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, text.c_str(),
                                     static_cast<int>(text.size()), lower.data(),
                                     static_cast<int>(lower.size()), nullptr, nullptr, 0);
    return length == static_cast<int>(text.size()) ? lower : std::wstring();
}

}  // namespace

std::wstring CanonicalFolder(const std::wstring& folder) {
    std::wstring full = FullPath(folder);
    while (full.size() > 1 && full.back() == L'\\' && full[full.size() - 2] != L':')
        full.pop_back();
    return LowerCase(full);
}

std::wstring GetModuleDir(const std::wstring& suffix) {
    return FolderOf(ModuleFileName()) + suffix;
}

std::wstring ProductFile(const char* name) {
    return GetModuleDir(L"\\" + ToWide(std::string_view(name)));
}

GbkString GetFileVersionString(const std::wstring& path) {
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    if (size == 0) return {};
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return {};
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) || !value ||
        length < sizeof(VS_FIXEDFILEINFO))
        return {};
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    GbkString version;
    version.Format("%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                   HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return version;
}
