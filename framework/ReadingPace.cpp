#include "ReadingPace.h"

#include <algorithm>

ReadingPace::ReadingPace(DWORD bufferBytes, DWORD silenceLimitMs, DWORD nowTick)
    : m_bufferBytes(std::max<DWORD>(bufferBytes, 1)),
      m_silenceLimitMs(silenceLimitMs),
      m_lastByteTick(nowTick) {}

void ReadingPace::Read(DWORD got, DWORD nowTick) {
    m_plentiful = got == m_bufferBytes;
    if (got > 0) m_lastByteTick = nowTick;
}
