#include "MonotonicClock.h"

DWORD NowMs() {
    static const LONGLONG perSecond = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<DWORD>(now.QuadPart / perSecond * 1000 +
                              now.QuadPart % perSecond * 1000 / perSecond);
}
