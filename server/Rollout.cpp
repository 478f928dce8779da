#include "Rollout.h"

#include <cstdint>
#include <cstdio>
#include <regex>

#include "MurmurHash2.h"

namespace vendor {

bool ParseRollout(std::string_view text, unsigned& hundredths) {
    static const std::regex share(R"(([0-9]{1,3})(?:\.([0-9]{1,2}))?%)");
    std::match_results<std::string_view::const_iterator> parts;
    if (!std::regex_match(text.begin(), text.end(), parts, share)) return false;
    std::string decimals = parts[2].str();
    decimals.resize(2, '0');
    const unsigned value =
        static_cast<unsigned>(std::stoul(parts[1].str()) * 100 + std::stoul(decimals));
    if (value > kWholeRollout) return false;
    hundredths = value;
    return true;
}

std::string RolloutText(unsigned hundredths) {
    char text[16];
    if (hundredths % 100 == 0)
        std::snprintf(text, sizeof text, "%u%%", hundredths / 100);
    else
        std::snprintf(text, sizeof text, "%u.%02u%%", hundredths / 100, hundredths % 100);
    return text;
}

bool IsInstallId(std::string_view id) {
    return id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool InRollout(unsigned hundredths, const char* installId, std::string_view version) {
    if (hundredths == 0 || hundredths >= kWholeRollout) return hundredths != 0;
    if (installId == nullptr || !IsInstallId(installId)) return false;
    // nginx's bound for the first part of a split_clients block, in 64 bits as nginx has it.
    const std::uint64_t bound = hundredths * std::uint64_t{0xffffffff} / kWholeRollout;
    return MurmurHash2(std::string(installId) + std::string(version)) < bound;
}

}  // namespace vendor
