#include "ReleaseSignature.h"

#include "Sha256.h"

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

bool DecodeBase64(std::string_view text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0) return false;
    for (size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        const int padding = last ? (text[at + 3] == '=') + (text[at + 2] == '=') : 0;
        if (padding == 1 && text[at + 2] == '=') return false;  // "x=y=" is not padding
        uint32_t group = 0;
        for (int i = 0; i < 4; ++i) {
            const int value = i >= 4 - padding ? 0 : Base64Value(text[at + i]);
            if (value < 0) return false;
            group = group << 6 | static_cast<uint32_t>(value);
        }
        // The bits that padding leaves over must be zero: one text, one encoding.
        if ((padding == 1 && (group & 0xFF)) || (padding == 2 && (group & 0xFFFF))) return false;
        bytes.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) bytes.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1) bytes.push_back(static_cast<uint8_t>(group));
    }
    return true;
}

ReleaseKey::~ReleaseKey() {
    if (m_key) BCryptDestroyKey(m_key);
    if (m_algorithm) BCryptCloseAlgorithmProvider(m_algorithm, 0);
}

bool ReleaseKey::Load(std::string_view base64) {
    std::vector<uint8_t> point;
    if (!DecodeBase64(base64, point) || point.size() != 64) return false;
    std::vector<uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB));
    auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
    header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header->cbKey = 32;
    blob.insert(blob.end(), point.begin(), point.end());
    return Succeeded(BCryptOpenAlgorithmProvider(&m_algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr,
                                                 0)) &&
           Succeeded(BCryptImportKeyPair(m_algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &m_key,
                                         blob.data(), static_cast<ULONG>(blob.size()), 0));
}

bool ReleaseKey::Verifies(std::string_view signedBytes,
                          const std::array<uint8_t, 64>& signature) const {
    if (!m_key) return false;
    std::array<uint8_t, 32> digest{};
    if (!Sha256Of(signedBytes.data(), signedBytes.size(), digest)) return false;
    return BCryptVerifySignature(m_key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                 const_cast<uint8_t*>(signature.data()),
                                 static_cast<ULONG>(signature.size()), 0) == 0;
}
