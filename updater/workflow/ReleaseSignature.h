// The vendor's signature on a release, checked with the platform's own cryptography (CNG):
// ECDSA P-256 over SHA-256.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
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

// A SHA-256 digest taken piece by piece on a thread of its own, so that it keeps pace with a
// download instead of holding it up: Add copies the piece and returns (waiting only while
// several megabytes are still queued).
class BackgroundSha256 {
public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    bool Add(const void* data, ULONG size);
    bool Finish(std::array<uint8_t, 32>& digest);

private:
    struct Queue;
    Queue* m_queue;
};

// A SHA-256 digest taken piece by piece.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Add(const void* data, ULONG size);
    bool Finish(std::array<uint8_t, 32>& digest);

private:
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
};
