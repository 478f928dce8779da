// The figures a download shows after each chunk: the size, the speed and the percentage, as
// the dialog's three labels read them. "KB" is 1,024 bytes.
#pragma once

#include <windows.h>

#include <cstdint>

#include "GbkString.h"

struct DownloadFigures {
    int percent = 0;  // 0 while no size was announced
    GbkString sizeLabel;
    GbkString speedLabel;
    GbkString percentLabel;
};

class DownloadMeter {
public:
    // size: the announced length, 0 when none was announced.
    explicit DownloadMeter(uint64_t size) : m_size(size) {}

    // The figures after a chunk of count bytes that came elapsedMs after the transfer began.
    // The speed is taken over the whole transfer up to this chunk (the first chunk's over
    // 10 ms), so a link that trickles shows what it brings, not its last burst.
    DownloadFigures AddChunk(DWORD count, DWORD elapsedMs);
    // The figures as they stand, elapsedMs after the transfer began.
    DownloadFigures Figures(DWORD elapsedMs) const;
    // A download that goes on from `inHand` bytes kept before: they count for the percentage,
    // not for the speed.
    void Resume(uint64_t inHand) { m_received = m_resumedFrom = inHand; }

    uint64_t Received() const { return m_received; }

private:
    static constexpr DWORD kFirstChunkMs = 10;
    uint64_t m_size;
    uint64_t m_received = 0;
    uint64_t m_resumedFrom = 0;
    bool m_chunked = false;  // a chunk has been counted
};
