#include "ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace testing_vendor {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

fs::path Fixture(const std::string& name) {
    return fs::path(FIXTURE_DIR) / name;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "update-server-test.XXXXXX").string();
    m_path = mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

fs::path GrownProgram(const fs::path& folder, const std::string& fixture, size_t size) {
    std::string bytes = ReadBytes(Fixture(fixture));
    bytes.resize(size, '\x5a');
    const fs::path program = folder / ("grown-" + fixture);
    WriteBytes(program, bytes);
    return program;
}

void WriteRelease(const fs::path& folder, const fs::path& program, bool paused,
                  const std::string& name, const std::string& moreSettings) {
    fs::create_directories(folder);
    WriteBytes(folder / "release.ini", "# test release\nprogram = " + name +
                                           "\nmanual_page = http://www.example.com/下载.html\n"
                                           "notes = notes.html\npaused = " +
                                           (paused ? "yes" : "no") + "\n" + moreSettings);
    WriteBytes(folder / "notes.html", "<p>修正</p>\n");
    Publish(folder, program, name);
    // Prepared a while ago: a server started now need not wait for the folder to settle.
    const auto before = fs::file_time_type::clock::now() - std::chrono::seconds(10);
    for (const fs::path& file : {folder / "release.ini", folder / "notes.html", folder / name})
        fs::last_write_time(file, before);
}

void WriteRollout(const fs::path& folder, const std::string& rollout, bool withPrevious) {
    fs::create_directories(folder);
    const fs::path previous = folder / "previous.exe";
    if (withPrevious && !fs::exists(previous)) {
        fs::copy_file(Fixture("v2_0_1_5.exe"), previous);
        fs::last_write_time(previous, fs::file_time_type::clock::now() - std::chrono::seconds(10));
    }
    WriteRelease(folder, Fixture("v2_0_2_0.exe"), false, "Tanvik体验版.exe",
                 (rollout.empty() ? "" : "rollout = " + rollout + "\n") +
                     (withPrevious ? "previous = previous.exe\n" : ""));
}

std::string RandomInstallId(std::mt19937_64& random) {
    char id[33];
    std::snprintf(id, sizeof id, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return id;
}

std::string IdHeader(const std::string& id) {
    return id.empty() ? "" : "X-Install-Id: " + id + "\r\n";
}

void Publish(const fs::path& folder, const fs::path& program, const std::string& name) {
    fs::copy_file(program, folder / (name + ".part"), fs::copy_options::overwrite_existing);
    fs::rename(folder / (name + ".part"), folder / name);
}

namespace {
// A new socket of `type` connected (or, non-blocking, connecting) to 127.0.0.1:port, or -1.
int ConnectSocket(int port, int type) {
    const int sock = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ||
        ((type & SOCK_NONBLOCK) && errno == EINPROGRESS))
        return sock;
    ::close(sock);
    return -1;
}
}  // namespace

int Connect(int port) {
    return ConnectSocket(port, SOCK_STREAM);
}

int StartConnecting(int port) {
    return ConnectSocket(port, SOCK_STREAM | SOCK_NONBLOCK);
}

Response Exchange(int port, const std::string& request, int timeoutMs) {
    Response response;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    const int sock = Connect(port);
    if (sock < 0) return response;
    ::send(sock, request.data(), request.size(), MSG_NOSIGNAL);
    std::string raw;
    char chunk[65536];
    for (pollfd ready{sock, POLLIN, 0}; ::poll(&ready, 1, MillisecondsLeft(deadline)) > 0;) {
        const ssize_t got = ::recv(sock, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        raw.append(chunk, static_cast<size_t>(got));
    }
    ::close(sock);
    response.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.compare(0, 5, "HTTP/") != 0) return response;
    response.status = std::atoi(raw.c_str() + raw.find(' ') + 1);
    std::istringstream lines(raw.substr(0, end));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        if (!value.empty() && value.back() == '\r') value.pop_back();
        response.headers[line.substr(0, colon)] = value;
    }
    response.body = raw.substr(end + 4);
    return response;
}

bool ReadUntilClosed(int sock, std::string& received, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char chunk[65536];
    for (pollfd ready{sock, POLLIN, 0}; ::poll(&ready, 1, MillisecondsLeft(deadline)) > 0;) {
        const ssize_t got = ::recv(sock, chunk, sizeof chunk, 0);
        if (got <= 0) return true;
        received.append(chunk, static_cast<size_t>(got));
    }
    return false;
}

Response Get(int port, const std::string& target, const std::string& extraHeaders,
             const char* method) {
    return Exchange(port, std::string(method) + " " + target +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                              extraHeaders + "\r\n");
}

ServerProcess::ServerProcess(std::vector<std::string> arguments, unsigned long maxFiles) {
    arguments.insert(arguments.begin(), UPDATE_SERVER_PROGRAM);
    std::vector<char*> argv;
    for (std::string& word : arguments) argv.push_back(word.data());
    argv.push_back(nullptr);
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    const std::string errors = (m_logs.Path() / "stderr").string();
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    // The child inherits the limit; this test process gets its own back at once.
    rlimit own{};
    ::getrlimit(RLIMIT_NOFILE, &own);
    const rlimit child{maxFiles, own.rlim_max};  // a hard limit lowered would stay lowered
    if (maxFiles != 0) ::setrlimit(RLIMIT_NOFILE, &child);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    if (maxFiles != 0) ::setrlimit(RLIMIT_NOFILE, &own);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    m_stdout = output[0];
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0 && Stop() < 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_stdout >= 0) ::close(m_stdout);
}

bool ServerProcess::WaitUntilListening() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    std::string said;
    char chunk[256];
    for (pollfd ready{m_stdout, POLLIN, 0}; said.find('\n') == std::string::npos &&
                                            ::poll(&ready, 1, MillisecondsLeft(deadline)) > 0;) {
        const ssize_t got = ::read(m_stdout, chunk, sizeof chunk);
        if (got <= 0) break;
        said.append(chunk, static_cast<size_t>(got));
    }
    const std::string prefix = "listening at ";
    if (!said.starts_with(prefix) || said.find('\n') == std::string::npos) return false;
    m_base = said.substr(prefix.size(), said.find('\n') - prefix.size());
    m_port = std::atoi(m_base.c_str() + m_base.rfind(':') + 1);
    return true;
}

int ServerProcess::Stop(int signal, int timeoutMs) {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, signal);
    int status = 0;
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        ::usleep(10000);
    }
    return -1;
}

std::string ServerProcess::Errors() const {
    return ReadBytes(m_logs.Path() / "stderr");
}

int MetricsPort(const ServerProcess& server) {
    const std::string said = server.Errors();
    const std::string intro = "metrics at http://127.0.0.1:";
    const size_t at = said.find(intro);
    return at == std::string::npos ? 0 : std::atoi(said.c_str() + at + intro.size());
}

}  // namespace testing_vendor
