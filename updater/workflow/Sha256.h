// SHA-256, taken piece by piece. On processors with the SHA extensions the blocks are hashed by
// those instructions: several times faster than a plain implementation, so that checking a
// download's digest costs next to nothing. Elsewhere the platform's CNG hashes them.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    enum class Engine { Fastest, Platform };

    explicit Sha256(Engine engine = Engine::Fastest);
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Both false once the digest has been finished, and with the platform's hash unavailable.
    bool Add(const void* data, ULONG size);
    bool Finish(std::array<uint8_t, 32>& digest);

private:
    void AddToBlocks(const uint8_t* bytes, size_t size);

    bool m_onProcessor = false;
    bool m_finished = false;
    std::array<uint32_t, 8> m_state{};
    std::array<uint8_t, 64> m_pending{};
    size_t m_pendingSize = 0;
    uint64_t m_totalBytes = 0;

    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
};

// The digest of bytes in memory, however many. False when the hash is unavailable.
bool Sha256Of(const void* data, size_t size, std::array<uint8_t, 32>& digest);
