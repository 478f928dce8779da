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

std::string Sha256::Hex() {
    unsigned char sum[SHA256_DIGEST_LENGTH];
    if (!m_state || SHA256_Final(sum, m_state.get()) != 1) return {};
    m_state.reset();
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : sum) hex += {kHex[byte >> 4], kHex[byte & 15]};
    return hex;
}

std::string FileSha256(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    Sha256 digest;
    if (!in) return {};
    std::vector<char> chunk(1 << 16);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        digest.Add(chunk.data(), static_cast<size_t>(in.gcount()));
    }
    if (!in.eof()) return {};
    return digest.Hex();
}

}  // namespace vendor
