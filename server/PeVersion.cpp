#include "PeVersion.h"

#include <LIEF/PE.hpp>
#include <LIEF/logging.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>

#include "PeLayout.h"

namespace vendor {

namespace {

std::string JoinVersion(uint32_t high, uint32_t low) {
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16,
                  low & 0xFFFF);
    return text;
}

// A copy that stopped half-way still starts like a whole program; its headers then say that
// it reaches further than the file does.
std::string CutShort(const std::filesystem::path& program, std::uintmax_t fileSize) {
    const PeEnd end = ProgramEnd(program);
    if (!end.error.empty()) return end.error;
    if (end.bytes <= fileSize) return {};
    return "is cut short: its contents reach byte " + std::to_string(end.bytes) +
           ", the file has " + std::to_string(fileSize);
}

}  // namespace

FileVersion ReadFileVersion(const std::filesystem::path& program) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(program, ignored)) return {{}, "no such file"};
    // LIEF reports on its own through a logger; the caller says what went wrong instead.
    LIEF::Logger::disable();
    try {
        if (!LIEF::PE::is_pe(program.string())) return {{}, "not a Windows program (PE file)"};
        if (const std::string cut = CutShort(program, std::filesystem::file_size(program));
            !cut.empty())
            return {{}, cut};
        const std::unique_ptr<LIEF::PE::Binary> binary = LIEF::PE::Parser::parse(program.string());
        if (!binary) return {{}, "cannot be read as a Windows program"};
        if (!binary->has_resources()) return {{}, "has no resources, so no version"};
        const LIEF::PE::ResourcesManager resources = binary->resources_manager();
        if (!resources.has_version()) return {{}, "has no version resource"};
        const LIEF::PE::ResourceVersion version = resources.version();
        if (!version.has_fixed_file_info())
            return {{}, "its version resource has no fixed file version"};
        const LIEF::PE::ResourceFixedFileInfo& fixed = version.fixed_file_info();
        return {JoinVersion(fixed.file_version_MS(), fixed.file_version_LS()), {}};
    } catch (const std::exception& failure) {
        return {{}, std::string("cannot be read as a Windows program: ") + failure.what()};
    }
}

bool VersionBefore(const std::string& older, const std::string& newer) {
    const auto numbers = [](const std::string& version) {
        std::array<unsigned, 4> parts{};
        std::sscanf(version.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
        return parts;
    };
    return numbers(older) < numbers(newer);
}

}  // namespace vendor
