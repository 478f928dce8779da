// The vendor's signature on a release, checked with the platform's own cryptography (CNG):
// ECDSA P-256 over SHA-256.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Standard base64 with padding; false for anything else.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& bytes);

class ReleaseKey {
public:
    ReleaseKey() = default;
    ~ReleaseKey();
    ReleaseKey(const ReleaseKey&) = delete;
    ReleaseKey& operator=(const ReleaseKey&) = delete;

    // base64 of the raw 64-byte X and Y.
    bool Load(std::string_view base64);
    bool Verifies(std::string_view signedBytes, const std::array<uint8_t, 64>& signature) const;

private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_KEY_HANDLE m_key = nullptr;
};
