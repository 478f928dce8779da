#include "ReleaseKey.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <utility>
#include <vector>

namespace vendor {

namespace {

constexpr size_t kHalf = 32;  // bytes of a P-256 coordinate, and of r and of s

std::string OpenSslError() {
    char text[256] = "unknown error";
    if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
    return text;
}

struct DigestContext {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~DigestContext() { EVP_MD_CTX_free(ctx); }
};

std::string DecodeBase64(const std::string& text) {
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 3);
    const int length =
        EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size()));
    if (length < 0) return {};
    size_t padding = 0;
    for (size_t i = text.size(); i > 0 && text[i - 1] == '=' && padding < 2; --i) ++padding;
    return std::string(reinterpret_cast<const char*>(bytes.data()), length - padding);
}

}  // namespace

std::string Base64(std::string_view bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(length);
    return text;
}

ReleaseKey::~ReleaseKey() {
    EVP_PKEY_free(m_key);
}

std::unique_ptr<ReleaseKey> ReleaseKey::Generate(const std::filesystem::path& file,
                                                 std::string& error) {
    EVP_PKEY* made = EVP_EC_gen("P-256");
    if (made == nullptr) {
        error = "cannot make a key: " + OpenSslError();
        return nullptr;
    }
    std::unique_ptr<ReleaseKey> key(new ReleaseKey(made));
    // Created with its mode at once: the private key is never readable by others, not even
    // for a moment.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create " + file.string() + " (it must not exist yet)";
        return nullptr;
    }
    FILE* out = ::fdopen(fd, "w");
    if (out == nullptr) ::close(fd);
    const bool written = out != nullptr && PEM_write_PrivateKey(out, made, nullptr, nullptr, 0,
                                                                nullptr, nullptr) == 1;
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        error = "cannot write " + file.string();
        std::filesystem::remove(file);
        return nullptr;
    }
    return key;
}

std::unique_ptr<ReleaseKey> ReleaseKey::Load(const std::filesystem::path& file,
                                             std::string& error) {
    FILE* in = std::fopen(file.c_str(), "r");
    if (in == nullptr) {
        error = "cannot read the signing key " + file.string();
        return nullptr;
    }
    EVP_PKEY* read = PEM_read_PrivateKey(in, nullptr, nullptr, nullptr);
    std::fclose(in);
    char group[32] = "";
    if (read == nullptr || !EVP_PKEY_is_a(read, "EC") ||
        EVP_PKEY_get_utf8_string_param(read, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       nullptr) != 1 ||
        std::string(group) != "prime256v1") {
        EVP_PKEY_free(read);
        error = "the signing key " + file.string() + " is not a P-256 private key in PEM";
        return nullptr;
    }
    return std::unique_ptr<ReleaseKey>(new ReleaseKey(read));
}

std::string ReleaseKey::PublicKey() const {
    unsigned char point[1 + 2 * kHalf];
    size_t length = 0;
    EVP_PKEY_set_utf8_string_param(m_key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                   "uncompressed");
    if (EVP_PKEY_get_octet_string_param(m_key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &length) != 1 ||
        length != sizeof point || point[0] != 0x04)
        return {};
    return Base64({reinterpret_cast<const char*>(point + 1), 2 * kHalf});
}

std::string ReleaseKey::Sign(std::string_view bytes) const {
    DigestContext signing;
    size_t length = 0;
    if (EVP_DigestSignInit(signing.ctx, nullptr, EVP_sha256(), nullptr, m_key) != 1 ||
        EVP_DigestSign(signing.ctx, nullptr, &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
        return {};
    std::vector<unsigned char> der(length);
    if (EVP_DigestSign(signing.ctx, der.data(), &length,
                       reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1)
        return {};
    // OpenSSL writes SEQUENCE { r, s } in DER; updaters take r and s as 32 bytes each.
    const unsigned char* at = der.data();
    ECDSA_SIG* signature = d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length));
    if (signature == nullptr) return {};
    unsigned char raw[2 * kHalf];
    const bool ok = BN_bn2binpad(ECDSA_SIG_get0_r(signature), raw, kHalf) == kHalf &&
                    BN_bn2binpad(ECDSA_SIG_get0_s(signature), raw + kHalf, kHalf) == kHalf;
    ECDSA_SIG_free(signature);
    return ok ? Base64({reinterpret_cast<const char*>(raw), sizeof raw}) : std::string();
}

bool ReleaseKey::Verifies(std::string_view bytes, const std::string& signature) const {
    const std::string raw = DecodeBase64(signature);
    if (raw.size() != 2 * kHalf) return false;
    const auto* r = reinterpret_cast<const unsigned char*>(raw.data());
    ECDSA_SIG* parts = ECDSA_SIG_new();
    ECDSA_SIG_set0(parts, BN_bin2bn(r, kHalf, nullptr), BN_bin2bn(r + kHalf, kHalf, nullptr));
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(parts, &der);
    ECDSA_SIG_free(parts);
    DigestContext verifying;
    const bool ok =
        length > 0 &&
        EVP_DigestVerifyInit(verifying.ctx, nullptr, EVP_sha256(), nullptr, m_key) == 1 &&
        EVP_DigestVerify(verifying.ctx, der, static_cast<size_t>(length),
                         reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
    OPENSSL_free(der);
    return ok;
}

}  // namespace vendor
