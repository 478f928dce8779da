// OpenSSL's plain SHA-256 calls: they reach the hashing code (with the processor's SHA
// instructions) without loading the algorithm providers, which would add about 1.5 MiB to
// every server's memory where releases are not signed. OpenSSL 3 marks them deprecated in
// favour of the provider calls, not removed.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "Sha256.h"

#include <openssl/sha.h>

#include <fstream>
#include <vector>

namespace vendor {

Sha256::Sha256() : m_state(std::make_unique<SHA256_CTX>()) {
    if (SHA256_Init(m_state.get()) != 1) m_state.reset();
}

Sha256::~Sha256() = default;

void Sha256::Add(const void* bytes, std::size_t length) {
    if (m_state && SHA256_Update(m_state.get(), bytes, length) != 1) m_state.reset();
}

bool Sha256::Finish(std::array<std::uint8_t, 32>& digest) {
    static_assert(sizeof digest == SHA256_DIGEST_LENGTH);
    const bool finished = m_state && SHA256_Final(digest.data(), m_state.get()) == 1;
    m_state.reset();
    return finished;
}

namespace {

std::string HexOf(const std::array<std::uint8_t, 32>& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) hex += {kHex[byte >> 4], kHex[byte & 15]};
    return hex;
}

}  // namespace

std::string Sha256::Hex() {
    std::array<std::uint8_t, 32> digest{};
    return Finish(digest) ? HexOf(digest) : std::string();
}

bool FileDigest(const std::filesystem::path& file, std::array<std::uint8_t, 32>& digest) {
    std::ifstream in(file, std::ios::binary);
    Sha256 hash;
    if (!in) return false;
    std::vector<char> chunk(1 << 16);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        hash.Add(chunk.data(), static_cast<size_t>(in.gcount()));
    }
    return in.eof() && hash.Finish(digest);
}

std::string FileSha256(const std::filesystem::path& file) {
    std::array<std::uint8_t, 32> digest{};
    return FileDigest(file, digest) ? HexOf(digest) : std::string();
}

}  // namespace vendor
