#include "ReadingPace.h"

#include <algorithm>

ReadingPace::ReadingPace(DWORD bufferBytes, DWORD silenceLimitMs, DWORD nowMs)
    : m_bufferBytes(std::max<DWORD>(bufferBytes, 1)),
      m_silenceLimitMs(silenceLimitMs),
      m_lastByteMs(nowMs),
      m_windowStart(nowMs) {}

void ReadingPace::CloseWindows(DWORD nowMs) {
    const DWORD elapsed = nowMs - m_windowStart;
    if (elapsed < kWindowMs) return;
    // A stretch that closed long ago says nothing of the pace now, and one in which the
    // transfer waited says that the link is the slower.
    m_lastWindowBytes = elapsed < 2 * kWindowMs && !m_windowWaited ? m_windowBytes : 0;
    m_windowBytes = 0;
    m_windowWaited = false;
    m_windowStart = nowMs;
}

DWORD ReadingPace::ReadSize(DWORD held, DWORD nowMs) {
    CloseWindows(nowMs);
    // Reading ahead pays only for reads far larger than what is held, and a read ahead that a
    // stall cuts loses what it had taken: at a slower pace, reads of what is held keep up.
    if (m_lastWindowBytes < m_bufferBytes / 8) return std::min(held, m_bufferBytes);
    return std::min(std::max(held, m_lastWindowBytes), m_bufferBytes);
}

void ReadingPace::Waited(DWORD waitedMs, DWORD nowMs) {
    if (waitedMs < kShortWaitMs) return;
    CloseWindows(nowMs);
    m_windowWaited = true;
    m_lastWindowBytes = 0;
}

void ReadingPace::Read(DWORD got, DWORD nowMs) {
    CloseWindows(nowMs);
    if (got == 0) return;
    m_windowBytes += got;
    m_lastByteMs = nowMs;
}
