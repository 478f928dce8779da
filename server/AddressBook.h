// Which bytes each plain download address ("version/name") was given, kept in the store so
// that it outlives a restart: an address, once given to bytes, never serves other bytes.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace vendor {

class AddressBook {
public:
    // Reads the book at `file` (none yet: empty). A book that is only read (the export's view
    // of a server's store) gives free addresses as the server would, but records nothing.
    void Open(std::filesystem::path file, bool writable);
    // True when the plain address `address` may serve the bytes `etag`: it already does, or
    // it is free and is now recorded for them. A claim that cannot be recorded is refused,
    // since a restart would not know of it.
    bool Claim(const std::string& address, const std::string& etag);

private:
    std::filesystem::path m_file;
    std::map<std::string, std::string> m_owners;  // address: the etag it serves
};

}  // namespace vendor
