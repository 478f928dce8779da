#include "ReleaseCatalog.h"

namespace vendor {

namespace {

std::string PreviousPath(const Release& release) {
    return release.previous ? release.previous->DecodedPath() : std::string();
}

}  // namespace

void ReleaseCatalog::Publish(ReleasePtr release, Clock::time_point now) {
    // The same bytes at the same address (settings changed, or read again) replace it; anything
    // else stays at its address for a while, the release offered beside it too.
    if (m_current && (m_current->DecodedPath() != release->DecodedPath() ||
                      (m_current->previous && PreviousPath(*m_current) != PreviousPath(*release))))
        m_retired.push_back({m_current, now + m_keepPrevious});
    m_current = std::move(release);
}

namespace {

// The release, or the one offered beside it, at this download path.
ReleasePtr AtPath(const ReleasePtr& release, const std::string& path) {
    if (!release) return nullptr;
    if (release->DecodedPath() == path) return release;
    if (release->previous && release->previous->DecodedPath() == path) return release->previous;
    return nullptr;
}

// The release, if its patch lies at this path.
ReleasePtr WithPatchAt(const ReleasePtr& release, const std::string& path) {
    if (!release || !release->patch) return nullptr;
    return release->PatchPath(release->patch->fromSha256) == path ? release : nullptr;
}

}  // namespace

template <typename At>
ReleasePtr ReleaseCatalog::Search(At at, Clock::time_point now) const {
    if (ReleasePtr found = at(m_current)) return found;
    for (auto old = m_retired.rbegin(); old != m_retired.rend(); ++old)
        if (ReleasePtr found = at(old->release); found && old->until > now) return found;
    return nullptr;
}

ReleasePtr ReleaseCatalog::Find(const std::string& path, Clock::time_point now) const {
    return Search([&path](const ReleasePtr& release) { return AtPath(release, path); }, now);
}

ReleasePtr ReleaseCatalog::FindPatch(const std::string& path, Clock::time_point now) const {
    return Search([&path](const ReleasePtr& release) { return WithPatchAt(release, path); }, now);
}

std::vector<ReleasePtr> ReleaseCatalog::Known() const {
    std::vector<ReleasePtr> known;
    const auto add = [&known](const ReleasePtr& release) {
        known.push_back(release);
        if (release->previous) known.push_back(release->previous);
    };
    if (m_current) add(m_current);
    for (const Retired& old : m_retired) add(old.release);
    return known;
}

void ReleaseCatalog::DropExpired(Clock::time_point now) {
    while (!m_retired.empty() && m_retired.front().until <= now) m_retired.pop_front();
}

}  // namespace vendor
