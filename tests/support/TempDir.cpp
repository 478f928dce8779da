#include "TestSupport.h"

#include <atomic>

namespace testsupport {
namespace {

std::atomic<unsigned> g_counter{0};

std::wstring TempRoot() {
    std::wstring root(MAX_PATH + 1, L'\0');
    const DWORD length = GetTempPathW(static_cast<DWORD>(root.size()), root.data());
    root.resize(length);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    return root;
}

}  // namespace

TempDir::TempDir(const std::wstring& leafName) {
    const std::wstring root = TempRoot();
    for (;;) {
        const std::wstring candidate =
            root + L"\\" + leafName + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++g_counter);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            m_path = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return;  // Path() stays empty
    }
}

TempDir::~TempDir() {
    if (!m_path.empty()) RemoveTree(m_path);
}

std::wstring TempDir::File(const std::wstring& name) const {
    return m_path + L"\\" + name;
}

bool RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    bool complete = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                complete = RemoveTree(full) && complete;
            } else {
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                complete = DeleteFileW(full.c_str()) && complete;
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryW(path.c_str()) && complete;
}

}  // namespace testsupport
