#include "ReleaseSettings.h"

#include <sstream>

#include "Url.h"

namespace vendor {

namespace {

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A plain name of a file inside the release folder.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool Apply(const std::string& key, const std::string& value, ReleaseSettings& settings,
           std::string& error) {
    if (key == "program" || key == "notes") {
        if (!IsPlainFileName(value)) {
            error = key + " must name a file inside the release folder";
            return false;
        }
        (key == "program" ? settings.program : settings.notes) = value;
    } else if (key == "manual_page") {
        if (!IsAbsoluteHttpUrl(value)) {
            error = "manual_page must be an absolute http:// or https:// address";
            return false;
        }
        settings.manualPage = value;
    } else if (key == "signing_key") {
        settings.signingKey = value;
    } else if (key == "paused") {
        if (value != "yes" && value != "no") {
            error = "paused must be yes or no";
            return false;
        }
        settings.paused = value == "yes";
    } else {
        error = "unknown key \"" + key + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool ParseReleaseSettings(const std::string& text, ReleaseSettings& settings, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
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
