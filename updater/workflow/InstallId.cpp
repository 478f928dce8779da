#include "InstallId.h"

#include <windows.h>
#include <bcrypt.h>

#include <utility>

#include "LocalFiles.h"
#include "RecordText.h"

namespace {

constexpr size_t kIdBytes = 16;
constexpr size_t kIdDigits = kIdBytes * 2;

// A registry key of HKEY_CURRENT_USER, closed when it goes.
class UserKey {
public:
    UserKey(const UserKey&) = delete;
    UserKey& operator=(const UserKey&) = delete;
    ~UserKey() {
        if (m_key) RegCloseKey(m_key);
    }
    static UserKey Open(const std::wstring& path) {
        UserKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key.m_key) !=
            ERROR_SUCCESS)
            key.m_key = nullptr;
        return key;
    }
    static UserKey Create(const std::wstring& path) {
        UserKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key.m_key,
                            nullptr) != ERROR_SUCCESS)
            key.m_key = nullptr;
        return key;
    }
    HKEY Handle() const { return m_key; }

private:
    UserKey() = default;
    UserKey(UserKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}

    HKEY m_key = nullptr;
};

std::optional<std::string> ReadId(HKEY key, const std::wstring& name) {
    if (!key) return std::nullopt;
    wchar_t text[kIdDigits + 1] = {};
    DWORD type = 0;
    DWORD size = sizeof(text);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    // The terminator may or may not have been stored with the digits.
    if (size == sizeof(text) && text[kIdDigits] == L'\0') size -= sizeof(wchar_t);
    if (size != kIdDigits * sizeof(wchar_t)) return std::nullopt;
    std::string id;
    for (const wchar_t digit : std::wstring_view(text, kIdDigits)) {
        if (digit > 0x7F) return std::nullopt;
        id += static_cast<char>(digit);
    }
    if (!IsInstallId(id)) return std::nullopt;
    return id;
}

std::optional<std::string> NewId() {
    unsigned char bytes[kIdBytes] = {};
    if (BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
        return std::nullopt;
    return ToHex(bytes);
}

bool WriteId(HKEY key, const std::wstring& name, const std::string& id) {
    const std::wstring text(id.begin(), id.end());
    return key &&
           RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

std::wstring InstallIdValueName(const std::wstring& installFolder) {
    return CanonicalFolder(installFolder);
}

bool IsInstallId(std::string_view text) {
    std::string bytes;
    return text.size() == kIdDigits && FromHex(text, bytes);
}

std::optional<std::string> InstallationId(const std::wstring& installFolder,
                                          const std::wstring& idsKey) {
    const std::wstring name = InstallIdValueName(installFolder);
    if (name.empty()) return std::nullopt;
    if (auto id = ReadId(UserKey::Open(idsKey).Handle(), name)) return id;
    const UserKey key = UserKey::Create(idsKey);
    const std::optional<std::string> made = NewId();
    if (!made || !WriteId(key.Handle(), name, *made)) return std::nullopt;
    // What is kept now: another updater of this folder may have written its own meanwhile.
    return ReadId(key.Handle(), name);
}

std::wstring InstallIdHeader(const std::optional<std::string>& id) {
    return id ? L"X-Install-Id: " + std::wstring(id->begin(), id->end()) : std::wstring();
}
