// Patches that must not be applied, made from a good one: cut, padded, with blocks that lie
// about their lengths or do not inflate, with steps outside the old file, and for an old file
// that is not the one the patch was made from. Shared by the native and the Windows tests.
#pragma once

#include <string>
#include <vector>

#include "ApplyPatch.h"

using PatchBytes = std::vector<uint8_t>;

struct DamagedPatch {
    std::string name;
    PatchBytes old;
    PatchBytes patch;
    PatchResult expected;
};

// `patch` turns `old` into a new file; both at least a few kilobytes with real differences.
std::vector<DamagedPatch> DamagedPatches(const PatchBytes& old, const PatchBytes& patch);

// ApplyPatch collecting the new file's bytes.
PatchResult ApplyInto(const PatchBytes& old, const PatchBytes& patch, PatchBytes& made);
