// Runs Debian's bsdiff (4.3) as a child process, within limits: it needs about 17 times the old
// file's size in memory and may take minutes on a large program.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace vendor {

struct PatchLimits {
    // Each of the two files; bsdiff would need about 17 times the old one in memory.
    std::uintmax_t largestInput = std::uintmax_t{256} << 20;
    std::chrono::milliseconds timeLimit = std::chrono::seconds(120);
    // When it becomes true (the server is ending), bsdiff gets SIGTERM and the patch is not made.
    const std::atomic<bool>* stop = nullptr;
};

inline constexpr char kBsdiffProgram[] = "/usr/bin/bsdiff";

// Writes bsdiff's patch (a BSDIFF40 file) of `oldFile` to `newFile` into `out`; false with
// `error` saying why (bsdiff's own message when it failed).
bool RunBsdiff(const std::filesystem::path& oldFile, const std::filesystem::path& newFile,
               const std::filesystem::path& out, const PatchLimits& limits, std::string& error);

}  // namespace vendor
