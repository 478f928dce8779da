// The installation's id: a random 128-bit number, made once per installation folder, that the
// update record request carries (and nothing else about the user or the machine), so that the
// vendor's server can offer a release to a stable share of installations first.
//
// It is kept where a standard account can write, unlike a folder under Program Files:
//   key    HKEY_CURRENT_USER\Software\Qorvel\Updater\InstallIds (kInstallIdsKey)
//   value  named by the installation folder as InstallIdValueName spells it
//   data   REG_SZ, 32 lowercase hex digits
// A value of another type or text is replaced by a new id. Anyone who places an id for an
// installation (a deployment tool, a test) writes it there in that form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr wchar_t kInstallIdsKey[] = L"Software\\Qorvel\\Updater\\InstallIds";

// The value's name for a folder: its CanonicalFolder spelling, so that the ways one folder may
// be written share one id. Empty when the path cannot be made full.
std::wstring InstallIdValueName(const std::wstring& installFolder);

// Exactly 32 lowercase hex digits.
bool IsInstallId(std::string_view text);

// The folder's id as kept under idsKey of HKEY_CURRENT_USER, made and kept there first when
// it has none (or a malformed one); nullopt when it can be neither read nor kept.
std::optional<std::string> InstallationId(const std::wstring& installFolder,
                                          const std::wstring& idsKey = kInstallIdsKey);

// The request header "X-Install-Id: <id>" for FetchText; empty without an id.
std::wstring InstallIdHeader(const std::optional<std::string>& id);
