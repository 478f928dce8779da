# Shared part of the MinGW-w64 toolchains (posix threads); MINGW_TRIPLE and WINE_ARCH are set
# by the toolchain file that includes this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests and the generators' outputs run under Wine (the prefix is set in the top CMakeLists).
find_program(WINE_PROGRAM wine REQUIRED)
