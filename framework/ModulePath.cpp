#include "ModulePath.h"

std::wstring ModuleFileName(HMODULE module) {
    // The buffer grows until the whole path fits: a cut path would name another folder.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(module, path.data(), size);
        if (length == 0) return {};
        if (length < size) {
            path.resize(length);
            return path;
        }
        if (size >= 0x10000) return {};  // longer than any Windows path
        path.resize(path.size() * 2);
    }
}
