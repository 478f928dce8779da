#include "FolderWatch.h"

#include <event2/event.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace vendor {

struct FolderWatch::Job {
    FolderLook look;
    std::vector<ReleasePtr> known;  // let go of on the loop's thread, never the check's
    ReleasePtr release;
    std::string error;
    bool failedForNow = false;
    Clock::time_point started = Clock::now();
    std::thread thread;
};

FolderWatch::FolderWatch(event_base* base, std::chrono::milliseconds poll, ReleaseFolder& folder,
                         ReleaseCatalog& catalog, FolderLook looked, Report report)
    : m_folder(folder),
      m_catalog(catalog),
      m_checked(looked),
      m_seen(looked),
      m_seenSince(Clock::now()),
      m_report(std::move(report)),
      m_poll(event_new(base, -1, EV_PERSIST, OnPoll, this)),
      m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_checkedEvent(event_new(base, m_wake, EV_READ | EV_PERSIST, OnChecked, this)) {
    const auto ms = poll.count();
    const timeval period{static_cast<time_t>(ms / 1000),
                         static_cast<suseconds_t>(ms % 1000 * 1000)};
    event_add(m_poll, &period);
    event_add(m_checkedEvent, nullptr);
}

// A check under way is abandoned: a stop is at once, whatever the size of the program.
FolderWatch::~FolderWatch() {
    if (m_job && m_job->thread.joinable()) {
        m_folder.Abandon();
        m_job->thread.join();
        if (!m_job->release) m_report("release check abandoned (" + m_job->error + ")");
    }
    event_free(m_checkedEvent);
    event_free(m_poll);
    ::close(m_wake);
}

void FolderWatch::Stop() {
    event_del(m_poll);
}

void FolderWatch::OnPoll(evutil_socket_t, short, void* self) {
    static_cast<FolderWatch*>(self)->Poll();
}

void FolderWatch::Poll() {
    m_catalog.DropExpired();
    if (m_job) return;
    const FolderLook now = m_folder.Look();
    if (now.outOfDescriptors || now == m_checked) return;
    if (now != m_seen) {
        m_seen = now;
        m_seenSince = Clock::now();
        return;
    }
    if (Clock::now() - m_seenSince < kSettled) return;
    StartCheck(now);
}

void FolderWatch::Reload() {
    if (m_job) {
        m_reloadAgain = true;
        return;
    }
    m_seen = m_folder.Look();
    StartCheck(m_seen);
}

void FolderWatch::StartCheck(const FolderLook& look) {
    m_job = std::make_unique<Job>();
    m_job->look = look;
    m_job->known = m_catalog.Known();
    Job* job = m_job.get();
    ReleaseFolder* folder = &m_folder;
    const int wake = m_wake;
    job->thread = std::thread([job, folder, wake] {
        job->release = folder->Check(job->error, job->known);
        job->failedForNow = !job->release && folder->FailedForNow();
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
    });
}

void FolderWatch::OnChecked(evutil_socket_t, short, void* self) {
    auto* watch = static_cast<FolderWatch*>(self);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(watch->m_wake, &count, sizeof count);
    if (watch->m_job) watch->Finish();
}

// Checked once per change: a folder that stays broken is reported once, not every poll; one
// that changed while it was read looks different at the next poll and is read again. One that
// could not be read for want of descriptors is read again too.
void FolderWatch::Finish() {
    m_job->thread.join();
    const std::unique_ptr<Job> job = std::move(m_job);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - job->started);
    const std::string serving = m_catalog.Current()->version;
    if (job->failedForNow) {
        m_report("release folder cannot be read for want of file descriptors; still serving " +
                 serving + ", trying again");
    } else if (!job->release) {
        m_checked = job->look;
        m_report("release folder not taken (" + job->error + "); still serving " + serving);
        if (refused) refused();
    } else {
        m_checked = job->look;
        const std::string audience = job->release->Audience();
        m_report("now serving " + job->release->version + (audience.empty() ? "" : " ") + audience +
                 " at " + job->release->DownloadPath() + " (" + std::to_string(job->release->size) +
                 " bytes, checked in " + std::to_string(took.count()) + " ms" +
                 (job->release->patchNote.empty() ? "" : "; " + job->release->patchNote) +
                 "); the release before stays available for a while");
        if (published) published(*job->release, took);
        m_catalog.Publish(job->release);
    }
    if (std::exchange(m_reloadAgain, false)) Reload();
}

}  // namespace vendor
