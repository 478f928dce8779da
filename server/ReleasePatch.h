// The patch from the program an installation may have (the previous release) to the release's,
// made from the checked copies when the release is published, on the thread that checks it. A
// patch that fails, or that is not smaller than half of the program, is not offered: updaters
// then download the whole program, as they would without patches.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "PatchMaker.h"
#include "ProgramFile.h"
#include "Release.h"

namespace vendor {

// The patch from `from` to `to`, made within `limits` in `folder` (new, left to the patch
// alone; removed with the patch's file, by `remover`). nullptr with `why` set when there is
// none to offer.
std::shared_ptr<const Patch> MakeReleasePatch(const Release& from, const Release& to,
                                              const std::filesystem::path& folder,
                                              const PatchLimits& limits,
                                              std::shared_ptr<CopyRemover> remover,
                                              std::string& why);

}  // namespace vendor
