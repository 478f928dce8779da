// A checked copy of a program in the store, opened once: every download of it is a piece of the
// one file segment (sent with sendfile, or mapped once when a rate limit needs it in memory).
// The copy's folder goes when the last release and the last download holding it let go.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

struct evbuffer_file_segment;

namespace vendor {

class ProgramFile {
public:
    // The copy at `copy` (alone in its folder), opened; nullptr with `error` set when it
    // cannot be. The folder is removed either way once nothing holds it.
    static std::shared_ptr<const ProgramFile> Open(const std::filesystem::path& copy,
                                                   std::string& error);
    ~ProgramFile();
    ProgramFile(const ProgramFile&) = delete;
    ProgramFile& operator=(const ProgramFile&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::uint64_t Size() const { return m_size; }
    evbuffer_file_segment* Segment() const { return m_segment; }

private:
    explicit ProgramFile(std::filesystem::path path) : m_path(std::move(path)) {}

    std::filesystem::path m_path;
    std::uint64_t m_size = 0;
    evbuffer_file_segment* m_segment = nullptr;
};

}  // namespace vendor
