#include "AddressBook.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

namespace vendor {

// One line per address: the etag, a tab, the address. The first line for an address wins; a
// line cut by a crash has no tab or is unfinished, and is skipped.
void AddressBook::Open(std::filesystem::path file, bool writable) {
    m_file = std::move(file);
    std::ifstream in(m_file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // no newline: cut short
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) m_owners.emplace(line.substr(tab + 1), line.substr(0, tab));
    }
    if (!writable) m_file.clear();
}

bool AddressBook::Claim(const std::string& address, const std::string& etag) {
    const auto owner = m_owners.find(address);
    if (owner != m_owners.end()) return owner->second == etag;
    if (!m_file.empty()) {
        if (address.find('\n') != std::string::npos) return false;
        const int out = ::open(m_file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        const std::string line = etag + "\t" + address + "\n";
        const bool written =
            out >= 0 &&
            ::write(out, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
            ::fsync(out) == 0;
        if (out >= 0) ::close(out);
        if (!written) return false;
    }
    m_owners.emplace(address, etag);
    return true;
}

}  // namespace vendor
