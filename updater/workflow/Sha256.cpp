#include "Sha256.h"

#include <algorithm>
#include <cstring>

#include "ShaExtensions.h"

namespace {

constexpr std::array<uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

Sha256::Sha256(Engine engine) {
    static const bool hasShaExtensions = ProcessorHasShaExtensions();
    m_onProcessor = engine == Engine::Fastest && hasShaExtensions;
    if (m_onProcessor) {
        m_state = kInitialState;
    } else if (Succeeded(BCryptOpenAlgorithmProvider(&m_algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                     0))) {
        BCryptCreateHash(m_algorithm, &m_hash, nullptr, 0, nullptr, 0, 0);
    }
}

Sha256::~Sha256() {
    if (m_hash) BCryptDestroyHash(m_hash);
    if (m_algorithm) BCryptCloseAlgorithmProvider(m_algorithm, 0);
}

bool Sha256::Add(const void* data, ULONG size) {
    if (m_finished) return false;
    if (m_onProcessor) {
        AddToBlocks(static_cast<const uint8_t*>(data), size);
        return true;
    }
    return m_hash &&
           Succeeded(BCryptHashData(m_hash, static_cast<PUCHAR>(const_cast<void*>(data)), size, 0));
}

void Sha256::AddToBlocks(const uint8_t* bytes, size_t size) {
    m_totalBytes += size;
    if (m_pendingSize > 0) {
        const size_t taken = std::min(size, m_pending.size() - m_pendingSize);
        std::memcpy(m_pending.data() + m_pendingSize, bytes, taken);
        m_pendingSize += taken;
        bytes += taken;
        size -= taken;
        if (m_pendingSize < m_pending.size()) return;
        HashBlocksWithShaExtensions(m_state.data(), m_pending.data(), 1);
        m_pendingSize = 0;
    }
    HashBlocksWithShaExtensions(m_state.data(), bytes, size / 64);
    m_pendingSize = size % 64;
    std::memcpy(m_pending.data(), bytes + size - m_pendingSize, m_pendingSize);
}

bool Sha256::Finish(std::array<uint8_t, 32>& digest) {
    if (m_finished) return false;
    m_finished = true;
    if (!m_onProcessor) return m_hash && Succeeded(BCryptFinishHash(m_hash, digest.data(), 32, 0));
    // The closing padding: 0x80, zeros up to 56 bytes into a block, the length in bits.
    const uint64_t bits = m_totalBytes * 8;
    std::array<uint8_t, 72> tail{};
    tail[0] = 0x80;
    const size_t zeros = (m_pendingSize < 56 ? 56 : 120) - m_pendingSize - 1;
    for (int i = 0; i < 8; ++i) tail[1 + zeros + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    AddToBlocks(tail.data(), 1 + zeros + 8);
    for (size_t i = 0; i < 8; ++i) {
        for (int b = 0; b < 4; ++b)
            digest[4 * i + b] = static_cast<uint8_t>(m_state[i] >> (24 - 8 * b));
    }
    return true;
}

bool Sha256Of(const void* data, size_t size, std::array<uint8_t, 32>& digest) {
    constexpr size_t kPiece = size_t{1} << 30;  // Add counts in ULONG
    Sha256 hash;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t at = 0; at < size; at += kPiece)
        if (!hash.Add(bytes + at, static_cast<ULONG>(std::min(size - at, kPiece)))) return false;
    return hash.Finish(digest);
}
