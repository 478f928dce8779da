// The fixed file version of a Windows program, as installed updaters read it: the four
// numbers of VS_FIXEDFILEINFO's file version joined by dots ("2.0.1.5"). The version strings
// of the resource ("2, 0, 1, 5") are not read.
#pragma once

#include <filesystem>
#include <string>

namespace vendor {

struct FileVersion {
    std::string text;   // "2.0.1.5", empty when the version could not be read
    std::string error;  // why, for the operator

    bool Ok() const { return error.empty(); }
};

FileVersion ReadFileVersion(const std::filesystem::path& program);

// Whether the version `older` comes before `newer`, comparing the four numbers from the left.
bool VersionBefore(const std::string& older, const std::string& newer);

}  // namespace vendor
