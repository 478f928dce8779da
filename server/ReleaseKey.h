// The vendor's release key (ECDSA P-256) on the server's side, with OpenSSL: made by
// `update-server keygen`, read from its PEM file to sign records.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace vendor {

class ReleaseKey {
public:
    ~ReleaseKey();
    ReleaseKey(const ReleaseKey&) = delete;
    ReleaseKey& operator=(const ReleaseKey&) = delete;

    // A new key written to `file` (PEM, mode 0600; an existing file is never overwritten).
    static std::unique_ptr<ReleaseKey> Generate(const std::filesystem::path& file,
                                                std::string& error);
    static std::unique_ptr<ReleaseKey> Load(const std::filesystem::path& file, std::string& error);

    // Base64 of the raw 64-byte X||Y: the form updaters are built with.
    std::string PublicKey() const;
    // Base64 of the raw 64-byte r||s of a signature over SHA-256 of `bytes`; empty on failure.
    std::string Sign(std::string_view bytes) const;
    bool Verifies(std::string_view bytes, const std::string& signature) const;

private:
    explicit ReleaseKey(EVP_PKEY* key) : m_key(key) {}
    EVP_PKEY* m_key;
};

std::string Base64(std::string_view bytes);

}  // namespace vendor
