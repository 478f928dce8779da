// Picks up a changed release folder without a restart. A change is checked only once the folder
// has looked the same for one whole poll interval (a copy in progress keeps changing it), and
// until a new release passes its check the one before goes on being served.
#pragma once

#include <functional>
#include <string>

#include "ReleaseCatalog.h"
#include "ReleaseFolder.h"

namespace vendor {

class FolderWatch {
public:
    using Report = std::function<void(const std::string&)>;

    // `looked` is what the folder looked like when `catalog`'s current release was checked.
    FolderWatch(ReleaseFolder& folder, ReleaseCatalog& catalog, FolderLook looked, Report report)
        : m_folder(folder),
          m_catalog(catalog),
          m_checked(looked),
          m_seen(looked),
          m_report(std::move(report)) {}

    // Called once per poll interval.
    void Poll();
    // Checks the folder now, changed or not (SIGHUP).
    void Reload();

private:
    // False when the folder could not be read for want of descriptors: it is read again later.
    bool Take();

    ReleaseFolder& m_folder;
    ReleaseCatalog& m_catalog;
    FolderLook m_checked;  // last look that was checked, well or not
    FolderLook m_seen;     // look at the poll before
    Report m_report;
};

}  // namespace vendor
