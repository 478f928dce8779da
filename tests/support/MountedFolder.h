// A folder that the programs under test cannot write once it is made read-only. Wine runs as
// root here and ignores permission bits, but not a read-only mount: the tests' HTTP server,
// which runs natively as root, mounts a small tmpfs at /tmp/qv-ro-<unique name> and switches
// it. The folder starts writable; it is unmounted and removed when the object goes away.
// Every call throws TestHttpServerError when the server cannot do it (no right to mount,
// say), so that a machine without mounts fails the test with the reason instead of skipping.
#pragma once

#include <string>

#include "TestHttpServer.h"

namespace testsupport {

class MountedFolder {
public:
    explicit MountedFolder(const TestHttpServer& server);
    ~MountedFolder();
    MountedFolder(const MountedFolder&) = delete;
    MountedFolder& operator=(const MountedFolder&) = delete;

    // The folder's Windows path, as Wine names the Unix one (Z:\tmp\qv-ro-…).
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

    // Files open for writing in it must be closed first: the mount refuses to switch.
    void MakeReadOnly();
    void MakeWritable();

private:
    TestHttpServer m_server;
    std::string m_unixPath;
    std::wstring m_path;
};

}  // namespace testsupport
