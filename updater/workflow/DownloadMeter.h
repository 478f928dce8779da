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

    // The figures after a chunk of count bytes. Its speed is taken over the time from the
    // start to the end of the previous chunk's handling (10 ms for the first chunk).
    DownloadFigures AddChunk(DWORD count);
    // A download that goes on from `inHand` bytes kept before: they count for the percentage,
    // not for the speed.
    void Resume(uint64_t inHand) { m_received = m_resumedFrom = inHand; }
    // The previous chunk has been handled at this tick (timeGetTime's milliseconds).
    void ChunkHandled(DWORD startTick, DWORD nowTick);

    uint64_t Received() const { return m_received; }

private:
    static constexpr DWORD kFirstChunkMs = 10;
    uint64_t m_size;
    uint64_t m_received = 0;
    uint64_t m_resumedFrom = 0;
    DWORD m_elapsedMs = kFirstChunkMs;
};
