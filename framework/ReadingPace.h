// How much a transfer asks WinINet for at once. A read that asks for more than WinINet holds
// completes only once it has all of it, and the bytes that come meanwhile stay unseen: on a
// link that trickles no label moves, and the silence limit runs out while data arrives. A
// read of only what is held never waits, but WinINet holds a few kilobytes at a time, and
// such reads cannot keep up with a fast link. So the transfer asks what is held (which waits
// for a byte when nothing is), and reads that much; but after a stretch of time in which data
// was (all but briefly) always waiting to be read, it reads as much as that stretch brought, up
// to a buffer: a read that has to wait then waits about as long at the pace just seen. The
// stretch is short, since reads of what is held are slow: a fast link's first stretch is time
// lost. (A link that slows down in the middle of such a read leaves it waiting; the transfer
// bounds that wait.)
#pragma once

#include <windows.h>

class ReadingPace {
public:
    ReadingPace(DWORD bufferBytes, DWORD silenceLimitMs, DWORD nowMs);

    // How much to read at `nowMs` when WinINet holds `held` bytes.
    DWORD ReadSize(DWORD held, DWORD nowMs);
    // Something came from the server at `nowMs` (a reply's head, say).
    void Heard(DWORD nowMs) { m_lastByteMs = nowMs; }
    // Nothing was held: the transfer waited `waitedMs` for data, until `nowMs`. A wait of a
    // few milliseconds is a fast link caught between two packets, not a slow one.
    void Waited(DWORD waitedMs, DWORD nowMs);
    // A read brought `got` bytes at `nowMs`.
    void Read(DWORD got, DWORD nowMs);
    // Whether nothing has come for the silence limit: it counts from the last byte.
    bool SilenceOver(DWORD nowMs) const { return nowMs - m_lastByteMs >= m_silenceLimitMs; }

    static constexpr DWORD kWindowMs = 10;
    static constexpr DWORD kShortWaitMs = 20;

private:
    void CloseWindows(DWORD nowMs);

    DWORD m_bufferBytes;
    DWORD m_silenceLimitMs;
    DWORD m_lastByteMs;
    DWORD m_windowStart;
    DWORD m_windowBytes = 0;      // received in the stretch that is open
    bool m_windowWaited = false;  // the transfer had to wait for data in it
    DWORD m_lastWindowBytes = 0;  // received in the stretch before, if data always waited
};
