#include "ReleaseCatalog.h"

namespace vendor {

void ReleaseCatalog::Publish(ReleasePtr release, Clock::time_point now) {
    // The same bytes at the same address (settings changed, or read again) replace it; anything
    // else stays at its address for a while.
    if (m_current && m_current->DecodedPath() != release->DecodedPath())
        m_retired.push_back({m_current, now + m_keepPrevious});
    m_current = std::move(release);
}

ReleasePtr ReleaseCatalog::Find(const std::string& path, Clock::time_point now) const {
    if (m_current && m_current->DecodedPath() == path) return m_current;
    for (auto old = m_retired.rbegin(); old != m_retired.rend(); ++old)
        if (old->until > now && old->release->DecodedPath() == path) return old->release;
    return nullptr;
}

std::vector<ReleasePtr> ReleaseCatalog::Known() const {
    std::vector<ReleasePtr> known;
    if (m_current) known.push_back(m_current);
    for (const Retired& old : m_retired) known.push_back(old.release);
    return known;
}

void ReleaseCatalog::DropExpired(Clock::time_point now) {
    while (!m_retired.empty() && m_retired.front().until <= now) m_retired.pop_front();
}

}  // namespace vendor
