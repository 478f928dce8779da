// A checked copy of a program in the store, opened once: every download of it is a piece of the
// one file segment (sent with sendfile, or mapped once when a rate limit needs it in memory).
// The copy's folder goes when the last release and the last download holding it let go, removed
// off the event loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct evbuffer_file_segment;

namespace vendor {

// Removes copies' folders on a thread of its own: unlinking a copy of a few hundred megabytes
// takes tens of milliseconds, which the event loop, where releases are let go of, must not
// spend.
class CopyRemover {
public:
    CopyRemover();
    // Removes what is still to be removed, then stops.
    ~CopyRemover();
    CopyRemover(const CopyRemover&) = delete;
    CopyRemover& operator=(const CopyRemover&) = delete;

    void Remove(std::filesystem::path folder);

private:
    void Work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::filesystem::path> m_folders;
    bool m_stopping = false;
    std::thread m_thread;
};

class ProgramFile {
public:
    // The copy at `copy` (alone in its folder), opened; nullptr with `error` set when it
    // cannot be. The folder is removed either way once nothing holds it, by `remover` when
    // one is given.
    static std::shared_ptr<const ProgramFile> Open(const std::filesystem::path& copy,
                                                   std::string& error,
                                                   std::shared_ptr<CopyRemover> remover = {});
    ~ProgramFile();
    ProgramFile(const ProgramFile&) = delete;
    ProgramFile& operator=(const ProgramFile&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::uint64_t Size() const { return m_size; }
    evbuffer_file_segment* Segment() const { return m_segment; }

private:
    explicit ProgramFile(std::filesystem::path path) : m_path(std::move(path)) {}

    std::filesystem::path m_path;
    std::shared_ptr<CopyRemover> m_remover;
    std::uint64_t m_size = 0;
    evbuffer_file_segment* m_segment = nullptr;
};

}  // namespace vendor
