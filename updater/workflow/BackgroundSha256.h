// A SHA-256 digest taken on a thread of its own, so that hashing a download runs beside
// receiving it instead of after each chunk. Add only copies: the bytes travel to the hashing
// thread a megabyte at a time, and Add waits only while two megabytes are still queued (on a
// link faster than the digest, a longer queue only takes memory).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class BackgroundSha256 {
public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // Both false once the digest has been finished.
    bool Add(const void* data, ULONG size);
    bool Finish(std::array<uint8_t, 32>& digest);

private:
    struct Hasher;
    bool HandOver();

    std::unique_ptr<Hasher> m_hasher;
    std::vector<uint8_t> m_filling;
    bool m_finished = false;
};
