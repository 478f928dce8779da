// The release folder's settings file, release.ini, in UTF-8 (a byte order mark is allowed):
// "key = value" lines; a "#" at a line's start or after a blank starts a comment, one inside a
// value belongs to it.
//
//   program     = Tanvik体验版.exe        the new main program, a file in the release folder
//   manual_page = http://www.example.com/qorvel/download.html
//   notes       = notes.html              UTF-8 HTML of the release notes (optional file)
//   paused      = no                      "yes" answers the availability check with nothing
//   signing_key = /etc/qorvel/release-key.pem   signs the record (optional; relative paths
//                                               are taken from the release folder)
//   previous    = Tanvik体验版-2.0.1.5.exe  an older program of the folder, offered to the
//                                       installations outside the rollout (optional)
//   rollout     = 5%                    the share of installations offered the program
//                                       (0 to 100 %, at most two decimals; default 100 %)
//
// Unknown keys are refused: a misspelt "pause = yes" must not go unnoticed.
#pragma once

#include <string>
#include <string_view>

#include "Rollout.h"

namespace vendor {

inline constexpr char kSettingsFileName[] = "release.ini";

struct ReleaseSettings {
    std::string program = "Tanvik体验版.exe";
    std::string manualPage;
    std::string notes = "notes.html";
    bool paused = false;
    std::string signingKey;  // empty: unsigned records
    std::string previous;    // empty: none
    unsigned rollout = kWholeRollout;
};

// `text` with what an editor would not show escaped: control and invisible characters as
// "\u{FEFF}", bytes that are not UTF-8 as "\xFF".
std::string ShowInvisible(std::string_view text);

// False with `error` set when a line or a value is not acceptable.
bool ParseReleaseSettings(const std::string& text, ReleaseSettings& settings, std::string& error);

}  // namespace vendor
