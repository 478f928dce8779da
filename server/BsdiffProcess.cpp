#include "BsdiffProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern char** environ;

namespace vendor {

namespace {

// The child starts with default signal handling and nothing blocked, whatever the server set,
// and with no descriptor of the server's but a pipe for its messages.
class SpawnSettings {
public:
    explicit SpawnSettings(int messages) {
        posix_spawnattr_init(&m_attributes);
        posix_spawn_file_actions_init(&m_actions);
        sigset_t none, reset;
        sigemptyset(&none);
        sigemptyset(&reset);
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD})
            sigaddset(&reset, signal);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        posix_spawnattr_setsigdefault(&m_attributes, &reset);
        posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&m_actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&m_actions, messages, 2);
        posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }
    const posix_spawnattr_t* Attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

class Pipe {
public:
    Pipe() {
        if (pipe2(m_ends, O_CLOEXEC) != 0) m_ends[0] = m_ends[1] = -1;
    }
    ~Pipe() {
        CloseWriteEnd();
        if (m_ends[0] >= 0) close(m_ends[0]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool Ok() const { return m_ends[0] >= 0; }
    int ReadEnd() const { return m_ends[0]; }
    int WriteEnd() const { return m_ends[1]; }
    void CloseWriteEnd() {
        if (m_ends[1] >= 0) close(m_ends[1]);
        m_ends[1] = -1;
    }

private:
    int m_ends[2];
};

// Takes what the child wrote to its messages, waiting at most `ms` for some; keeps the start.
// Once the child has closed them, only waits.
void TakeMessages(int from, int ms, std::string& messages) {
    pollfd waiting{from, POLLIN, 0};
    if (poll(&waiting, 1, ms) <= 0) return;
    char chunk[512];
    const ssize_t got = read(from, chunk, sizeof chunk);
    if (got <= 0) {
        usleep(static_cast<useconds_t>(ms) * 1000);
    } else if (messages.size() < 2048) {
        messages.append(chunk, static_cast<size_t>(got));
    }
}

bool Ended(pid_t child, int& status) {
    return waitpid(child, &status, WNOHANG) == child;
}

// SIGTERM, then SIGKILL if it has not gone within a second.
void End(pid_t child) {
    int status = 0;
    kill(child, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (Ended(child, status)) return;
        usleep(10'000);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
}

std::string FirstLine(const std::string& text) {
    const std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? std::string() : ": " + line;
}

}  // namespace

bool RunBsdiff(const std::filesystem::path& oldFile, const std::filesystem::path& newFile,
               const std::filesystem::path& out, const PatchLimits& limits, std::string& error) {
    Pipe messages;
    if (!messages.Ok()) {
        error = "cannot make a pipe for bsdiff";
        return false;
    }
    const SpawnSettings settings(messages.WriteEnd());
    std::string arguments[] = {kBsdiffProgram, oldFile.string(), newFile.string(), out.string()};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                    arguments[3].data(), nullptr};
    pid_t child = 0;
    if (const int failed = posix_spawn(&child, kBsdiffProgram, settings.Actions(),
                                       settings.Attributes(), argv, environ)) {
        error = std::string("cannot start ") + kBsdiffProgram + ": " + std::strerror(failed);
        return false;
    }
    messages.CloseWriteEnd();
    const auto deadline = std::chrono::steady_clock::now() + limits.timeLimit;
    std::string said;
    int status = 0;
    while (!Ended(child, status)) {
        if (limits.stop != nullptr && *limits.stop) {
            End(child);
            error = "stopped while bsdiff ran";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            End(child);
            char limit[64];
            std::snprintf(limit, sizeof limit, "%g", limits.timeLimit.count() / 1000.0);
            error = std::string("bsdiff took longer than ") + limit + " s";
            return false;
        }
        TakeMessages(messages.ReadEnd(), 20, said);
    }
    TakeMessages(messages.ReadEnd(), 0, said);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    error = WIFEXITED(status) ? "bsdiff failed (exit " + std::to_string(WEXITSTATUS(status)) + ")"
                              : "bsdiff ended by signal " + std::to_string(WTERMSIG(status));
    error += FirstLine(said);
    return false;
}

}  // namespace vendor
