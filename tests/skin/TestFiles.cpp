#include "TestFiles.h"

#include <windows.h>

#include <cstring>

namespace skintest {
namespace {

// A path relative to the test program's folder, made absolute with Windows separators.
std::wstring FromTestFolder(std::wstring relative) {
    for (wchar_t& c : relative) {
        if (c == L'/') c = L'\\';
    }
    wchar_t self[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring folder(self, n);
    folder.erase(folder.find_last_of(L'\\') + 1);
    const std::wstring joined = folder + relative;
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD m = GetFullPathNameW(joined.c_str(), MAX_PATH * 2, full, nullptr);
    return m ? std::wstring(full, m) : joined;
}

std::wstring Widen(const char* ascii) {
    return std::wstring(ascii, ascii + std::strlen(ascii));
}

}  // namespace

std::wstring SkinDllPath() {
    return FromTestFolder(Widen(SKIN_DLL_FROM_TESTS));
}

std::wstring ArtPath(const wchar_t* name) {
    return FromTestFolder(Widen(ART_DIR_FROM_TESTS) + L"\\" + name);
}

std::vector<unsigned char> ReadWholeFile(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 24)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
            read != bytes.size()) {
            bytes.clear();
        }
    }
    CloseHandle(file);
    return bytes;
}

}  // namespace skintest
