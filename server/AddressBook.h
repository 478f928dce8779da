// Which bytes each download address ("version/name", "version/tag/name") was given, kept in the
// store so that it outlives a restart: an address, once given to bytes, never serves other
// bytes. Bytes are named by their SHA-256: the ETag and the address tag are made from it, so
// two sets of bytes never share either, however alike their version, size and time.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace vendor {

// The strong ETag of the bytes with this SHA-256 (lowercase hex): "\"<32 hex>\"".
std::string DigestEtag(const std::string& sha256);
// The address tag of those bytes, when the plain address belongs to others: 16 hex.
std::string DigestAddressTag(const std::string& sha256);

class AddressBook {
public:
    // Reads the book at `file` (none yet: empty). A book that is only read gives free
    // addresses, but records nothing.
    void Open(std::filesystem::path file, bool writable);
    // Another book whose addresses hold as well, read only (the server's, for an export).
    void Consult(const std::filesystem::path& file);
    // Files already at `folder`/<address> hold their addresses too (an export made before the
    // book was kept): they are named by their digest.
    void HonourPlacedFiles(std::filesystem::path folder) { m_placed = std::move(folder); }

    // True when `address` may serve the bytes `etag`: it already does, or it is free and is
    // now recorded for them. A line of the form written before digests (`olderEtag`: version,
    // size and time) counts as theirs and is rewritten once with `etag`. A claim that cannot
    // be recorded is refused, since a restart would not know of it.
    bool Claim(const std::string& address, const std::string& etag,
               const std::string& olderEtag = {});

private:
    using Owners = std::map<std::string, std::string>;  // address: the etag it serves
    static Owners Read(const std::filesystem::path& file);
    static bool Agrees(const Owners& owners, const std::string& address, const std::string& etag,
                       const std::string& olderEtag);
    bool PlacedFileAgrees(const std::string& address, const std::string& etag) const;
    bool Append(const std::string& address, const std::string& etag) const;
    bool Rewrite() const;

    std::filesystem::path m_file;
    Owners m_owners;
    Owners m_consulted;
    std::filesystem::path m_placed;
};

}  // namespace vendor
