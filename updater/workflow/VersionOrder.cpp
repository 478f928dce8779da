#include "VersionOrder.h"

#include <string_view>
#include <vector>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Each part's number as its decimal digits without leading zeros ("" for 0), so that parts
// of any length compare without overflow.
std::vector<std::string_view> PartNumbers(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        std::string_view part =
            text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        size_t at = 0;
        while (at < part.size() && IsBlank(part[at])) ++at;
        size_t digits = at;
        while (digits < part.size() && part[digits] >= '0' && part[digits] <= '9') ++digits;
        while (at < digits && part[at] == '0') ++at;
        parts.push_back(part.substr(at, digits - at));
        if (dot == std::string_view::npos) return parts;
        start = dot + 1;
    }
}

int CompareNumbers(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

}  // namespace

BOOL IsNewerVersion(GbkString installed, GbkString offered) {
    if (installed.Find('.') < 0 || offered.Find('.') < 0) return FALSE;
    const auto mine = PartNumbers(installed.Bytes());
    const auto theirs = PartNumbers(offered.Bytes());
    for (size_t i = 0; i < std::max(mine.size(), theirs.size()); ++i) {
        const std::string_view a = i < mine.size() ? mine[i] : std::string_view();
        const std::string_view b = i < theirs.size() ? theirs[i] : std::string_view();
        const int order = CompareNumbers(a, b);
        if (order != 0) return order < 0 ? TRUE : FALSE;
    }
    return FALSE;
}
