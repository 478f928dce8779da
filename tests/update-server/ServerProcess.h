// Test helpers: the real update-server started on 127.0.0.1, release folders in temporary
// folders, and one HTTP exchange over a plain socket (requests are written out by hand, so
// that broken ones can be sent too).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace testing_vendor {

namespace fs = std::filesystem;

fs::path Fixture(const std::string& name);  // a fixture program: "v2_0_1_5.exe"...
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);

// A fresh folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// A copy of a fixture program grown to `size` bytes by data after its sections (an overlay).
fs::path GrownProgram(const fs::path& folder, const std::string& fixture, size_t size);
// A release folder: release.ini (with `moreSettings`, lines of its own), the program and notes,
// dated 10 s ago.
void WriteRelease(const fs::path& folder, const fs::path& program, bool paused = false,
                  const std::string& name = "Tanvik体验版.exe",
                  const std::string& moreSettings = "");
// A release of 2.0.2.0 at `rollout` ("50%"; empty: no rollout line) with 2.0.1.5 as its previous
// release (`withPrevious`).
void WriteRollout(const fs::path& folder, const std::string& rollout, bool withPrevious = true);
// A random installation id, as updaters make them: 32 lowercase hex digits.
std::string RandomInstallId(std::mt19937_64& random);
// The X-Install-Id header line for `id`, none for an empty one.
std::string IdHeader(const std::string& id);
// Publishes as vendors should: copy under another name, rename into place.
void Publish(const fs::path& folder, const fs::path& program,
             const std::string& name = "Tanvik体验版.exe");

struct Response {
    int status = 0;  // 0: the connection closed without a reply
    std::map<std::string, std::string> headers;
    std::string body;
    double seconds = 0;  // until the server closed the connection

    std::string Header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

// A connected socket to 127.0.0.1:port, or -1.
int Connect(int port);
// A non-blocking socket whose connection to 127.0.0.1:port has been asked for, or -1.
int StartConnecting(int port);
// Sends `request` as it is and reads until the server closes (at most `timeoutMs`).
Response Exchange(int port, const std::string& request, int timeoutMs = 5000);
// Reads from `sock` until it closes or `timeoutMs` pass; false on the time running out.
bool ReadUntilClosed(int sock, std::string& received, int timeoutMs);
// A GET or HEAD with Connection: close and extra header lines.
Response Get(int port, const std::string& target, const std::string& extraHeaders = "",
             const char* method = "GET");

// update-server with the given arguments; it is asked to stop (SIGTERM) when destroyed.
// `maxFiles` (when not 0) is its descriptor limit, as `ulimit -n` sets it.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> arguments, unsigned long maxFiles = 0);
    ~ServerProcess();
    // Waits for "listening at ..." (true) or the program's end (false).
    bool WaitUntilListening();
    // Sends `signal` (0: none, only waits); the exit status once ended within `timeoutMs`, -1
    // otherwise.
    int Stop(int signal = 15 /* SIGTERM */, int timeoutMs = 5000);
    int Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    const std::string& Base() const { return m_base; }
    // What the program wrote to stderr (complete once it has ended).
    std::string Errors() const;

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    TempFolder m_logs;
    int m_port = 0;
    std::string m_base;
};

// The port of the server's metrics page, which it says once it listens (0: none).
int MetricsPort(const ServerProcess& server);

}  // namespace testing_vendor
