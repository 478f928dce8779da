#include "ReleaseSettings.h"

#include <cstdio>
#include <sstream>
#include <string_view>
#include <utility>

#include "Url.h"

namespace vendor {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A "#" at the start or after a blank starts a comment; one inside a value (a program named
// "C#.exe", an address with a fragment) belongs to the value.
std::string WithoutComment(const std::string& line) {
    for (size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1))
        if (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t') return line.substr(0, at);
    return line;
}

size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// The code point of the UTF-8 sequence at `at` and its length; length 0 when it is not one.
std::pair<char32_t, size_t> CodePointAt(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const size_t length = SequenceLength(byte(0));
    if (length == 0 || at + length > text.size()) return {0, 0};
    char32_t point = length == 1 ? byte(0) : byte(0) & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return {0, 0};
        point = point << 6 | (byte(i) & 0x3F);
    }
    return {point, length};
}

bool IsInvisible(char32_t point) {
    return point < 0x20 || point == 0x7F || point == 0xA0 || point == 0xAD ||
           (point >= 0x200B && point <= 0x200F) || (point >= 0x2028 && point <= 0x202F) ||
           (point >= 0x2060 && point <= 0x2064) || point == 0xFEFF;
}

}  // namespace

std::string ShowInvisible(std::string_view text) {
    std::string shown;
    char escaped[16];
    for (size_t at = 0; at < text.size();) {
        const auto [point, length] = CodePointAt(text, at);
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
            shown += escaped;
            ++at;
            continue;
        }
        if (IsInvisible(point)) {
            std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(point));
            shown += escaped;
        } else {
            shown.append(text, at, length);
        }
        at += length;
    }
    return shown;
}

namespace {

// A plain name of a file inside the release folder.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool Apply(const std::string& key, const std::string& value, ReleaseSettings& settings,
           std::string& error) {
    if (key == "program" || key == "notes" || key == "previous") {
        if (!IsPlainFileName(value)) {
            error = key + " must name a file inside the release folder, not \"" +
                    ShowInvisible(value) + "\"";
            return false;
        }
        (key == "program" ? settings.program
         : key == "notes" ? settings.notes
                          : settings.previous) = value;
    } else if (key == "rollout") {
        if (!ParseRollout(value, settings.rollout)) {
            error =
                "rollout must be a share from 0% to 100% with at most two decimals, such as "
                "5% or 12.5%, not \"" +
                ShowInvisible(value) + "\"";
            return false;
        }
    } else if (key == "manual_page") {
        if (!IsAbsoluteHttpUrl(value)) {
            error = "manual_page must be an absolute http:// or https:// address, not \"" +
                    ShowInvisible(value) + "\"";
            return false;
        }
        settings.manualPage = value;
    } else if (key == "signing_key") {
        settings.signingKey = value;
    } else if (key == "paused") {
        if (value != "yes" && value != "no") {
            error = "paused must be yes or no, not \"" + ShowInvisible(value) + "\"";
            return false;
        }
        settings.paused = value == "yes";
    } else {
        error = "unknown key \"" + ShowInvisible(key) + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool ParseReleaseSettings(const std::string& text, ReleaseSettings& settings, std::string& error) {
    // Editors on Windows start a UTF-8 file with a byte order mark.
    std::istringstream lines(text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size())
                                                              : text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trim(WithoutComment(line));
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        std::string problem;
        if (equals == std::string::npos)
            problem = "expected key = value";
        else
            Apply(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), settings, problem);
        if (!problem.empty()) {
            error =
                std::string(kSettingsFileName) + " line " + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    if (settings.manualPage.empty()) {
        error = std::string(kSettingsFileName) + ": manual_page is missing";
        return false;
    }
    return true;
}

}  // namespace vendor
