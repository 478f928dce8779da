#include "PeVersion.h"

#include <LIEF/PE.hpp>
#include <LIEF/logging.hpp>

#include <algorithm>
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

// A copy that stopped half-way still starts like a whole program; its sections and its
// signature then reach past the end of the file.
std::string CutShort(LIEF::PE::Binary& binary, std::uintmax_t fileSize) {
    std::uint64_t end = 0;
    for (const LIEF::PE::Section& section : binary.sections())
        end = std::max<std::uint64_t>(end, std::uint64_t{section.pointerto_raw_data()} +
                                               section.sizeof_raw_data());
    const LIEF::PE::DataDirectory& security =
        binary.data_directory(LIEF::PE::DATA_DIRECTORY::CERTIFICATE_TABLE);
    end = std::max<std::uint64_t>(end, std::uint64_t{security.RVA()} + security.size());
    if (end <= fileSize) return {};
    return "is cut short: its contents reach byte " + std::to_string(end) + ", the file has " +
           std::to_string(fileSize);
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
        if (!binary) return {{}, "cannot be read as a Windows program"};
        if (const std::string cut = CutShort(*binary, std::filesystem::file_size(program)); !cut.empty())
            return {{}, cut};
        if (!binary->has_resources()) return {{}, "has no resources, so no version"};
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
