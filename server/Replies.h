// The bodies of the protocol's replies, the same for the live server and the static export.
// Replies that installed updaters read are plain ASCII (they read them as GBK).
#pragma once

#include <string>

#include "Release.h"

namespace vendor {

struct Replies {
    std::string check;     // isweb.asp: "true", or nothing while the release is paused
    std::string autoList;  // update.asp?action=Auto: the release's record
    // update.asp?action=Auto for installations outside the rollout: the previous release's
    // record, or nothing (no update).
    std::string autoListOut;
    std::string manual;     // update.asp?action=Hand: the manual-download page
    std::string notesPage;  // log.asp: an HTML page in UTF-8, for the browser
};

// `publicBase` is the absolute address the updaters reach the server at, ending in "/"; it
// makes the record of a release checked without one.
Replies MakeReplies(const Release& release, const std::string& publicBase);

inline constexpr char kTextType[] = "text/plain; charset=us-ascii";
inline constexpr char kPageType[] = "text/html; charset=utf-8";
inline constexpr char kProgramType[] = "application/octet-stream";

}  // namespace vendor
