// The store: the server's own folder for checked copies of programs (and the signed records),
// locked while a server runs, so that two servers never share one. What a killed run left
// there is removed at the start.
#pragma once

#include <filesystem>
#include <string>

namespace vendor {

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Makes and locks `path`; false with `error` set when it cannot, or when another server
    // holds it. A temporary store is removed whole at the end.
    bool Open(const std::filesystem::path& path, bool temporary, std::string& error);
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path Copies() const { return m_path / "copies"; }
    // Which bytes each download address served; kept across runs, unlike the copies.
    std::filesystem::path Addresses() const { return AddressesIn(m_path); }
    static std::filesystem::path AddressesIn(const std::filesystem::path& store) {
        return store / "addresses.txt";
    }

private:
    std::filesystem::path m_path;
    bool m_temporary = false;
    int m_lock = -1;
};

// A folder of the server's own that outlives a cleaner of /tmp: systemd's state folder
// (STATE_DIRECTORY), else one per release folder under the user's state folder.
bool DefaultStore(const std::filesystem::path& releaseFolder, std::filesystem::path& store,
                  std::string& error);

}  // namespace vendor
