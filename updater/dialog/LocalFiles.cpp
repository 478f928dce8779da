#include "LocalFiles.h"

#include <windows.h>

#include <vector>

#include "CodePage.h"
#include "ModulePath.h"

std::wstring GetModuleDir(const std::wstring& suffix) {
    const std::wstring program = ModuleFileName();
    const size_t slash = program.rfind(L'\\');
    const std::wstring folder = slash == std::wstring::npos ? L"" : program.substr(0, slash);
    return folder + suffix;
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
