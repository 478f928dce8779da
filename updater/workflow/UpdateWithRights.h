// The update of an installation whose folder refuses this account (a per-machine installation
// under Program Files, run by a standard account or under UAC). Nothing is ended for it
// before it can be written: the download goes to the user's own folder while the main program
// keeps running, and only then is Windows asked for rights, for the one step that checks the
// file again and puts it in place. Declined or failed, nothing has changed and the download
// stays for the next run, which asks for rights again without downloading anything.
#pragma once

#include <optional>

#include "DownloadFile.h"
#include "RunControl.h"
#include "RunReport.h"
#include "RunSettings.h"
#include "ServerProtocol.h"

// What the server offered, as read (and, with a release key, verified) from its record.
struct Offer {
    UpdateRecord record;
    std::optional<ExpectedFile> expected;  // the signed file, with a release key
    GbkString signedRecord;                // the record as received, with a release key
};

// hooks: the download's hooks as for an update in place.
void UpdateWithRights(const RunSettings& settings, RunControl& control, RunReport& report,
                      const Offer& offer, const DownloadHooks& hooks);
