#include "ReleaseCatalog.h"

#include <filesystem>

namespace vendor {

ReleaseCatalog::~ReleaseCatalog() {
    for (const Retired& old : m_retired) DeleteCopy(*old.release);
    if (m_current) DeleteCopy(*m_current);
}

void ReleaseCatalog::Publish(ReleasePtr release, Clock::time_point now) {
    if (m_current) {
        // A release published again under the same version and name replaces its bytes.
        if (m_current->version == release->version && m_current->programName == release->programName)
            DeleteCopy(*m_current);
        else
            m_retired.push_back({m_current, now + m_keepPrevious});
    }
    m_current = std::move(release);
}

ReleasePtr ReleaseCatalog::Find(const std::string& version, const std::string& programName,
                                Clock::time_point now) const {
    const auto matches = [&](const Release& r) {
        return r.version == version && r.programName == programName;
    };
    if (m_current && matches(*m_current)) return m_current;
    // The newest kept one first: the same version may have been published more than once.
    for (auto old = m_retired.rbegin(); old != m_retired.rend(); ++old)
        if (old->until > now && matches(*old->release)) return old->release;
    return nullptr;
}

void ReleaseCatalog::DropExpired(Clock::time_point now) {
    while (!m_retired.empty() && m_retired.front().until <= now) {
        DeleteCopy(*m_retired.front().release);
        m_retired.pop_front();
    }
}

// Downloads under way keep their own open file: the copy may go at once.
void ReleaseCatalog::DeleteCopy(const Release& release) {
    std::error_code ignored;
    std::filesystem::remove_all(release.program.parent_path(), ignored);
}

}  // namespace vendor
