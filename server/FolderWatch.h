// Picks up a changed release folder without a restart. A change is checked only once the folder
// has looked the same for a while (a copy in progress keeps changing it), and until a new
// release passes its check the one before goes on being served. The check (copy, structure,
// version, digest) runs on a thread of its own: clients are served meanwhile.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ReleaseCatalog.h"
#include "ReleaseFolder.h"

#include <event2/util.h>

struct event;
struct event_base;

namespace vendor {

class FolderWatch {
public:
    using Report = std::function<void(const std::string&)>;
    using Clock = std::chrono::steady_clock;
    // How long the folder must look the same before it is checked.
    static constexpr std::chrono::seconds kSettled{2};

    // `looked` is what the folder looked like when `catalog`'s current release was checked.
    FolderWatch(event_base* base, std::chrono::milliseconds poll, ReleaseFolder& folder,
                ReleaseCatalog& catalog, FolderLook looked, Report report);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Checks the folder now, changed or not (SIGHUP).
    void Reload();
    // Watches no more (a graceful stop).
    void Stop();
    // A release published: its version and the time its check took.
    std::function<void(const Release&, std::chrono::milliseconds)> published;
    std::function<void()> refused;

private:
    struct Job;
    static void OnPoll(evutil_socket_t, short, void* self);
    static void OnChecked(evutil_socket_t, short, void* self);
    void Poll();
    void StartCheck(const FolderLook& look);
    void Finish();

    ReleaseFolder& m_folder;
    ReleaseCatalog& m_catalog;
    FolderLook m_checked;  // last look that was checked, well or not
    FolderLook m_seen;     // look at the poll before
    Clock::time_point m_seenSince;
    Report m_report;
    event* m_poll;
    int m_wake;  // the check's thread says it is done through this eventfd
    event* m_checkedEvent;
    std::unique_ptr<Job> m_job;
    bool m_reloadAgain = false;
};

}  // namespace vendor
