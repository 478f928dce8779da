#include "AddressBook.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "Sha256.h"

namespace fs = std::filesystem;

namespace vendor {

namespace {

bool WriteSynced(const fs::path& file, const std::string& text, int flags) {
    const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0644);
    const bool written =
        out >= 0 && ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
        ::fsync(out) == 0;
    if (out >= 0) ::close(out);
    return written;
}

}  // namespace

std::string DigestEtag(const std::string& sha256) {
    return '"' + sha256.substr(0, 32) + '"';
}

std::string DigestAddressTag(const std::string& sha256) {
    return sha256.substr(0, 16);
}

// One line per address: the etag, a tab, the address. The first line for an address wins; a
// line cut by a crash has no tab or is unfinished, and is skipped.
AddressBook::Owners AddressBook::Read(const fs::path& file) {
    Owners owners;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // no newline: cut short
        const size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0)
            owners.emplace(line.substr(tab + 1), line.substr(0, tab));
    }
    return owners;
}

void AddressBook::Open(fs::path file, bool writable) {
    m_owners = Read(file);
    m_file = writable ? std::move(file) : fs::path();
}

void AddressBook::Consult(const fs::path& file) {
    m_consulted.merge(Read(file));
}

bool AddressBook::Agrees(const Owners& owners, const std::string& address, const std::string& etag,
                         const std::string& olderEtag) {
    const auto owner = owners.find(address);
    return owner == owners.end() || owner->second == etag ||
           (!olderEtag.empty() && owner->second == olderEtag);
}

bool AddressBook::PlacedFileAgrees(const std::string& address, const std::string& etag) const {
    if (m_placed.empty()) return true;
    const fs::path placed = m_placed / address;
    std::error_code failure;
    if (!fs::exists(placed, failure)) return !failure;
    const std::string digest = FileSha256(placed);
    return !digest.empty() && DigestEtag(digest) == etag;
}

bool AddressBook::Claim(const std::string& address, const std::string& etag,
                        const std::string& olderEtag) {
    if (address.find('\n') != std::string::npos || !Agrees(m_consulted, address, etag, olderEtag))
        return false;
    const auto owner = m_owners.find(address);
    if (owner == m_owners.end()) {
        // A file placed before the book was kept is read only for an address the book lacks.
        if (!PlacedFileAgrees(address, etag) || (!m_file.empty() && !Append(address, etag)))
            return false;
        m_owners.emplace(address, etag);
        return true;
    }
    if (owner->second == etag) return true;
    if (olderEtag.empty() || owner->second != olderEtag) return false;
    // The same bytes, named in the form of today from now on.
    owner->second = etag;
    if (m_file.empty() || Rewrite()) return true;
    owner->second = olderEtag;
    return false;
}

bool AddressBook::Append(const std::string& address, const std::string& etag) const {
    return WriteSynced(m_file, etag + "\t" + address + "\n", O_APPEND);
}

// Replaced at once by a rename: a crash leaves the book before or after, never half of it.
bool AddressBook::Rewrite() const {
    std::string text;
    for (const auto& [address, etag] : m_owners) text += etag + "\t" + address + "\n";
    const fs::path part = m_file.string() + ".part";
    std::error_code failure;
    if (!WriteSynced(part, text, O_TRUNC)) return false;
    fs::rename(part, m_file, failure);
    return !failure;
}

}  // namespace vendor
