// A release as the server checked it: the bytes it sends live in a copy of its own, so that
// nothing done to the release folder afterwards changes what a record announced.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ProgramFile.h"
#include "Rollout.h"

namespace vendor {

// A patch that turns an older program into the release's, made from the checked copies when
// the release is published. The older program's digest names it (see Release::PatchPath), its
// own digest its ETag.
struct Patch {
    std::string fromSha256;                   // the older program's SHA-256, lowercase hex
    std::shared_ptr<const ProgramFile> file;  // the patch, a file of the store, open
    std::uint64_t size = 0;
    std::time_t modified = 0;  // the later of the two programs' times: the same at every making
    std::string sha256;        // of the patch
    std::string etag;
};

struct Release {
    std::string version;                      // "2.0.1.5"
    std::string programName;                  // file name, as published (UTF-8)
    std::filesystem::path program;            // the checked copy that is sent
    std::shared_ptr<const ProgramFile> file;  // that copy, open
    std::vector<std::uint64_t> source;        // identity, size and times of the published file
    // Set when other bytes were served under the same version and name: an address never
    // serves other bytes, so these get one of their own, made from their digest
    // ("3f2a9c0d51e4b7a8").
    std::string addressTag;
    std::uint64_t size = 0;
    std::time_t modified = 0;  // of the published file
    std::string sha256;        // of the checked copy, lowercase hex
    std::string etag;          // quoted, strong, made from sha256 (see AddressBook.h)
    std::string manualPage;
    std::string notesHtml;  // the release notes as given, UTF-8
    bool paused = false;
    // The share of installations offered this release (release.ini's rollout), and what the
    // others are offered: an older release of the folder (release.ini's previous), or nothing.
    unsigned rollout = kWholeRollout;
    std::shared_ptr<const Release> previous;
    // The patch from the previous release's program, if one was made and is small enough; what
    // became of it, for the operator: "patch from 2.0.1.5: 2345 bytes" or why there is none.
    std::shared_ptr<const Patch> patch;
    std::string patchNote;
    // The update-list record, "#2.0.1.5#http://.../download/...#", signed when a key is set.
    std::string record;

    // Path of the download below the public base address, percent-encoded and without a
    // leading "/": "download/2.0.1.5/Tanvik%E4%BD%93....exe".
    std::string DownloadPath() const;
    // The same, decoded, as a request names it.
    std::string DecodedPath() const;
    // Where the patch from the program with this SHA-256 lies: the download's folder and
    // "from/<sha256>" ("download/2.0.1.5/from/3f2a..."). Updaters derive it from the record's
    // address the same way. Decoded and encoded alike: all of it is ASCII without reserved
    // characters.
    std::string PatchPath(const std::string& fromSha256) const;
    // Whom it is offered to, for the operator: "" for everybody, else "to 5% of installations,
    // 2.0.1.5 to the others".
    std::string Audience() const;
};

using ReleasePtr = std::shared_ptr<const Release>;

}  // namespace vendor
