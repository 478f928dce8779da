#include "ReleasePatch.h"

#include <algorithm>

#include "AddressBook.h"
#include "Sha256.h"

namespace fs = std::filesystem;

namespace vendor {

std::shared_ptr<const Patch> MakeReleasePatch(const Release& from, const Release& to,
                                              const fs::path& folder, const PatchLimits& limits,
                                              std::shared_ptr<CopyRemover> remover,
                                              std::string& why) {
    std::error_code failure;
    fs::create_directories(folder, failure);
    const fs::path made = folder / ("from-" + from.sha256);
    if (failure || !MakePatch(from.file->Path().string(), to.file->Path().string(), made.string(),
                              why, limits)) {
        if (failure) why = "cannot make " + folder.string() + ": " + failure.message();
        fs::remove_all(folder, failure);
        return nullptr;
    }
    auto patch = std::make_shared<Patch>();
    patch->fromSha256 = from.sha256;
    patch->sha256 = FileSha256(made);
    // Opened whatever follows: the folder goes with the file.
    patch->file = ProgramFile::Open(made, why, std::move(remover));
    if (!patch->file || patch->sha256.empty()) {
        if (patch->sha256.empty()) why = "cannot read the patch made in " + made.string();
        return nullptr;
    }
    patch->size = patch->file->Size();
    // A patch of half the program or more saves too little for the risk of another step.
    if (patch->size * 2 >= to.size) {
        why = "the patch (" + std::to_string(patch->size) +
              " bytes) is not smaller than half of the program (" + std::to_string(to.size) +
              " bytes)";
        return nullptr;
    }
    patch->modified = std::max(from.modified, to.modified);
    patch->etag = DigestEtag(patch->sha256);
    return patch;
}

}  // namespace vendor
