# 32-bit Windows programs: what ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
set(WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
