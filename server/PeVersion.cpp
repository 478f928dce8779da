#include "PeVersion.h"

#include <LIEF/PE.hpp>
#include <LIEF/logging.hpp>

#include <cstdio>
#include <exception>

namespace vendor {

namespace {

std::string JoinVersion(uint32_t high, uint32_t low) {
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", high >> 16, high & 0xFFFF, low >> 16,
                  low & 0xFFFF);
    return text;
}

}  // namespace

FileVersion ReadFileVersion(const std::filesystem::path& program) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(program, ignored)) return {{}, "no such file"};
    // LIEF reports on its own through a logger; the caller says what went wrong instead.
    LIEF::Logger::disable();
    try {
        if (!LIEF::PE::is_pe(program.string())) return {{}, "not a Windows program (PE file)"};
        const std::unique_ptr<LIEF::PE::Binary> binary = LIEF::PE::Parser::parse(program.string());
        if (!binary || !binary->has_resources()) return {{}, "has no resources, so no version"};
        const LIEF::PE::ResourcesManager resources = binary->resources_manager();
        if (!resources.has_version()) return {{}, "has no version resource"};
        const LIEF::PE::ResourceVersion version = resources.version();
        if (!version.has_fixed_file_info()) return {{}, "its version resource has no fixed file version"};
        const LIEF::PE::ResourceFixedFileInfo& fixed = version.fixed_file_info();
        return {JoinVersion(fixed.file_version_MS(), fixed.file_version_LS()), {}};
    } catch (const std::exception& failure) {
        return {{}, std::string("cannot be read as a Windows program: ") + failure.what()};
    }
}

}  // namespace vendor
