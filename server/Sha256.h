// SHA-256 over bytes given in pieces (a copy hashed as it is made).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct SHA256state_st;

namespace vendor {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Add(const void* bytes, std::size_t length);
    // The digest of all bytes added, once; false on a failure.
    bool Finish(std::array<std::uint8_t, 32>& digest);
    // The same in lowercase hex; empty on a failure.
    std::string Hex();

private:
    std::unique_ptr<SHA256state_st> m_state;
};

// The SHA-256 of a file's bytes; false when it cannot be read.
bool FileDigest(const std::filesystem::path& file, std::array<std::uint8_t, 32>& digest);
// The same in lowercase hex; empty when it cannot be read.
std::string FileSha256(const std::filesystem::path& file);

}  // namespace vendor
