#include "Store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fs = std::filesystem;

namespace vendor {

Store::~Store() {
    std::error_code ignored;
    if (m_lock >= 0) {
        fs::remove_all(Copies(), ignored);
        ::close(m_lock);
    }
    if (m_temporary) fs::remove_all(m_path, ignored);
}

bool Store::Open(const fs::path& path, bool temporary, std::string& error) {
    m_path = path;
    m_temporary = temporary;
    std::error_code failure;
    fs::create_directories(m_path, failure);
    if (failure) {
        error = "cannot make the store " + m_path.string() + ": " + failure.message();
        return false;
    }
    const int lock = ::open((m_path / "store.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        error = "the store " + m_path.string() + " is in use by another update-server (" +
                std::strerror(errno) + "); give each its own --store";
        if (lock >= 0) ::close(lock);
        return false;
    }
    m_lock = lock;
    fs::remove_all(Copies(), failure);
    return true;
}

bool DefaultStore(const fs::path& releaseFolder, fs::path& store, std::string& error) {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
        const std::string folders = state;  // systemd may give several, separated by ":"
        store = folders.substr(0, folders.find(':'));
        return true;
    }
    fs::path base;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
        base = fs::path(home) / ".local" / "state";
    } else {
        error = "no HOME to keep the store in: give --store DIR";
        return false;
    }
    std::error_code ignored;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(releaseFolder), ignored);
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a: release folders of one name apart
    for (const unsigned char c : absolute.string()) hash = (hash ^ c) * 1099511628211ull;
    char tag[17];
    std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(hash));
    store = base / "update-server" / (absolute.filename().string() + "-" + tag);
    return true;
}

}  // namespace vendor
