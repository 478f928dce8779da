// SHA-256 over bytes given in pieces (a copy hashed as it is made).
#pragma once

#include <cstddef>
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
    // Lowercase hex of the digest of all bytes added, once; empty on a failure.
    std::string Hex();

private:
    std::unique_ptr<SHA256state_st> m_state;
};

// Lowercase hex of the SHA-256 of a file's bytes; empty when it cannot be read.
std::string FileSha256(const std::filesystem::path& file);

}  // namespace vendor
