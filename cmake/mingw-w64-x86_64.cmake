# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TELVANE_MINGW_PREFIX x86_64-w64-mingw32)
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
