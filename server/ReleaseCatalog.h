// The releases being served: the current one, and the ones it replaced for a while after, so
// that a record handed out just before a new release still leads to its own bytes.
#pragma once

#include <chrono>
#include <deque>
#include <string>

#include "Release.h"

namespace vendor {

class ReleaseCatalog {
public:
    using Clock = std::chrono::steady_clock;

    explicit ReleaseCatalog(std::chrono::seconds keepPrevious) : m_keepPrevious(keepPrevious) {}
    ~ReleaseCatalog();

    // Makes `release` current; the one before stays findable for keepPrevious.
    void Publish(ReleasePtr release, Clock::time_point now = Clock::now());
    const ReleasePtr& Current() const { return m_current; }
    // The current or a kept release with this version and program name (decoded), or nullptr.
    ReleasePtr Find(const std::string& version, const std::string& programName,
                    Clock::time_point now = Clock::now()) const;
    // Forgets releases kept longer than keepPrevious and deletes their copies.
    void DropExpired(Clock::time_point now = Clock::now());

private:
    struct Retired {
        ReleasePtr release;
        Clock::time_point until;
    };
    static void DeleteCopy(const Release& release);

    std::chrono::seconds m_keepPrevious;
    ReleasePtr m_current;
    std::deque<Retired> m_retired;
};

}  // namespace vendor
