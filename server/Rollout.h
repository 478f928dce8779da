// The share of installations that are offered a release first (release.ini's rollout). An
// installation is in when the MurmurHash2 of its id followed by the release's version falls
// below the share, as nginx's split_clients decides: the static export then agrees with the
// server, and a new release draws a new share. At 0 % and 100 % nobody is hashed. Shares are
// kept in hundredths of a percent, as nginx keeps them.
#pragma once

#include <string>
#include <string_view>

namespace vendor {

inline constexpr unsigned kWholeRollout = 10000;  // 100 %

// The share from "N%" (0 to 100, at most two decimals, such as "5%" or "12.5%"), or false.
bool ParseRollout(std::string_view text, unsigned& hundredths);
// The share as nginx's split_clients reads it: "5%", "12.50%".
std::string RolloutText(unsigned hundredths);
// The id an updater sends in X-Install-Id: 32 lowercase hex digits.
bool IsInstallId(std::string_view id);
// Whether an installation is offered `version` at the share `hundredths`. `installId` is what it
// sent (nullptr: nothing); without a well-formed one it is out, unless everybody is in.
bool InRollout(unsigned hundredths, const char* installId, std::string_view version);

}  // namespace vendor
