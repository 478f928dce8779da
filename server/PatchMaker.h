// Makes the delta patch (patch/PatchFormat.h) that turns one program into another: Debian's
// bsdiff finds the differences, its bzip2 blocks are deflated into our format, and the patch is
// applied once to the old file to prove that it gives exactly the new one.
#pragma once

#include <string>

#include "BsdiffProcess.h"

namespace vendor {

// Writes the patch from `oldPath` to `newPath` into `outPath` (through a temporary file beside
// it, renamed into place); false with `error` saying why, and then nothing is left at `outPath`
// that this call wrote.
bool MakePatch(const std::string& oldPath, const std::string& newPath, const std::string& outPath,
               std::string& error, const PatchLimits& limits = {});

}  // namespace vendor
