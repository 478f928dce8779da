# 64-bit builds of the same sources, for running the tests under 64-bit Wine on machines whose
# kernel cannot start 32-bit programs (and so cannot run 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
