#include "ProgramFile.h"

#include <event2/buffer.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vendor {

CopyRemover::CopyRemover() : m_thread([this] { Work(); }) {}

CopyRemover::~CopyRemover() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void CopyRemover::Remove(std::filesystem::path folder) {
    {
        const std::lock_guard lock(m_mutex);
        m_folders.push_back(std::move(folder));
    }
    m_wake.notify_one();
}

void CopyRemover::Work() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stopping || !m_folders.empty(); });
        if (m_folders.empty()) return;  // stopping, and nothing left
        const std::filesystem::path folder = std::move(m_folders.front());
        m_folders.pop_front();
        lock.unlock();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        lock.lock();
    }
}

std::shared_ptr<const ProgramFile> ProgramFile::Open(const std::filesystem::path& copy,
                                                     std::string& error,
                                                     std::shared_ptr<CopyRemover> remover) {
    std::shared_ptr<ProgramFile> file(new ProgramFile(copy));
    file->m_remover = std::move(remover);
    const int descriptor = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        error = "cannot open " + copy.string() + ": " + std::strerror(errno);
        if (descriptor >= 0) ::close(descriptor);
        return nullptr;
    }
    file->m_size = static_cast<std::uint64_t>(info.st_size);
    file->m_segment =
        evbuffer_file_segment_new(descriptor, 0, info.st_size, EVBUF_FS_CLOSE_ON_FREE);
    if (file->m_segment == nullptr) {
        ::close(descriptor);
        error = "cannot prepare " + copy.string() + " for sending";
        return nullptr;
    }
    return file;
}

// Downloads under way hold the segment, and so the open file, until they are done.
ProgramFile::~ProgramFile() {
    if (m_segment) evbuffer_file_segment_free(m_segment);
    if (m_remover) {
        m_remover->Remove(m_path.parent_path());
    } else {
        std::error_code ignored;
        std::filesystem::remove_all(m_path.parent_path(), ignored);
    }
}

}  // namespace vendor
