// How a transfer asks WinINet for its body. A read that has to wait completes only once it has
// everything it asked for, so a large read on a link that trickles leaves the bytes that come
// meanwhile unseen: no label moves and the silence limit runs out while data arrives. So no
// read ever waits for data: each asks for a whole buffer but takes only what WinINet holds
// (IRF_NO_WAIT), and when it holds nothing the transfer waits by asking what is available,
// which completes as soon as any byte has come. While reads come back full, more is waiting
// and the next read goes straight on; otherwise the transfer asks first.
#pragma once

#include <windows.h>

class ReadingPace {
public:
    ReadingPace(DWORD bufferBytes, DWORD silenceLimitMs, DWORD nowTick);

    // The most to ask for at once.
    DWORD ReadSize() const { return m_bufferBytes; }
    // Whether to ask WinINet what it holds (and wait for a byte) before the next read.
    bool AskFirst() const { return !m_plentiful; }
    // Something came from the server at `nowTick` (a reply's head, say).
    void Heard(DWORD nowTick) { m_lastByteTick = nowTick; }
    // A read brought `got` bytes at `nowTick`.
    void Read(DWORD got, DWORD nowTick);
    // Whether nothing has come for the silence limit: it counts from the last byte.
    bool SilenceOver(DWORD nowTick) const { return nowTick - m_lastByteTick >= m_silenceLimitMs; }

private:
    DWORD m_bufferBytes;
    DWORD m_silenceLimitMs;
    DWORD m_lastByteTick;
    bool m_plentiful = false;
};
