#include "FolderWatch.h"

#include <utility>

namespace vendor {

void FolderWatch::Poll() {
    m_catalog.DropExpired();
    const FolderLook now = m_folder.Look();
    if (now.outOfDescriptors || now == m_checked) return;
    if (now != m_seen) {
        m_seen = now;
        return;
    }
    // Checked once per change: a folder that stays broken is reported once, not every poll;
    // one that changed while it was read looks different at the next poll and is read again.
    const FolderLook checked = std::exchange(m_checked, now);
    if (!Take()) m_checked = checked;
}

void FolderWatch::Reload() {
    m_checked = m_seen = m_folder.Look();
    Take();
}

bool FolderWatch::Take() {
    std::string error;
    ReleasePtr release = m_folder.Check(error);
    const std::string serving = m_catalog.Current()->version;
    if (!release && m_folder.FailedForNow()) {
        m_report("release folder cannot be read for want of file descriptors; still serving " +
                 serving + ", trying again");
        return false;
    }
    if (!release) {
        m_report("release folder not taken (" + error + "); still serving " + serving);
        return true;
    }
    m_report("now serving " + release->version + " (" + std::to_string(release->size) +
             " bytes); " + serving + " stays available for a while");
    m_catalog.Publish(std::move(release));
    return true;
}

}  // namespace vendor
