#include "MountedFolder.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace testsupport {
namespace {

std::atomic<unsigned> g_counter{0};

std::string UniqueUnixPath() {
    return "/tmp/qv-ro-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount()) + "-" + std::to_string(++g_counter);
}

// Wine's own name of a Unix path: its drives map folders of the Unix side, and only Wine
// knows which (kernel32's wine_get_dos_file_name, which Windows does not have).
std::wstring WindowsPathOf(const std::string& unixPath) {
    using ToDosName = wchar_t*(CDECL*)(const char*);
    const auto toDosName = reinterpret_cast<ToDosName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (!toDosName) throw TestHttpServerError("a mounted folder needs Wine: not running under it");
    wchar_t* name = toDosName(unixPath.c_str());
    if (!name) throw TestHttpServerError("Wine has no drive for " + unixPath);
    std::wstring path = name;
    HeapFree(GetProcessHeap(), 0, name);
    return path;
}

}  // namespace

MountedFolder::MountedFolder(const TestHttpServer& server)
    : m_server(server), m_unixPath(UniqueUnixPath()) {
    m_server.Mount(m_unixPath);
    try {
        m_path = WindowsPathOf(m_unixPath);
    } catch (...) {
        m_server.Unmount(m_unixPath);
        throw;
    }
}

MountedFolder::~MountedFolder() {
    try {
        m_server.Unmount(m_unixPath);
    } catch (const TestHttpServerError& e) {
        // Left to the server, which unmounts what it mounted when it ends.
        std::fprintf(stderr, "%s\n", e.what());
    }
}

void MountedFolder::MakeReadOnly() {
    m_server.Remount(m_unixPath, true);
}

void MountedFolder::MakeWritable() {
    m_server.Remount(m_unixPath, false);
}

}  // namespace testsupport
