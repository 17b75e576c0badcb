# Cross build for 32-bit Windows (kept buildable; this machine's Wine cannot run it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TELVANE_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TELVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TELVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TELVANE_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TELVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# GCC 12 reports overlapping copies inside std::string's own replace/insert at -O2 and above (a
# known false positive of the compiler, gone in GCC 13); the Release build would stop on it.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
