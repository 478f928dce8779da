// The releases being served: the current one (with the release offered beside it, if any), and
// the ones it replaced for a while after, so that a record handed out just before a new release
// still leads to its own bytes.
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "Release.h"

namespace vendor {

class ReleaseCatalog {
public:
    using Clock = std::chrono::steady_clock;

    explicit ReleaseCatalog(std::chrono::seconds keepPrevious) : m_keepPrevious(keepPrevious) {}

    // Makes `release` current; the one before stays findable for keepPrevious.
    void Publish(ReleasePtr release, Clock::time_point now = Clock::now());
    const ReleasePtr& Current() const { return m_current; }
    // The current or a kept release at this download path (decoded, as Release::DecodedPath
    // gives it), or nullptr.
    ReleasePtr Find(const std::string& path, Clock::time_point now = Clock::now()) const;
    // The current or a kept release whose patch lies at this path (decoded, as
    // Release::PatchPath gives it), or nullptr.
    ReleasePtr FindPatch(const std::string& path, Clock::time_point now = Clock::now()) const;
    // The current release and the kept ones, and those offered beside them.
    std::vector<ReleasePtr> Known() const;
    // Forgets releases kept longer than keepPrevious; their copies go with the last download.
    void DropExpired(Clock::time_point now = Clock::now());

private:
    // The first of the current and the kept releases for which `at` gives one.
    template <typename At>
    ReleasePtr Search(At at, Clock::time_point now) const;

    struct Retired {
        ReleasePtr release;
        Clock::time_point until;
    };

    std::chrono::seconds m_keepPrevious;
    ReleasePtr m_current;
    std::deque<Retired> m_retired;
};

}  // namespace vendor
