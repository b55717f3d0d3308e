# Cross-compiles the 32-bit edition (the shipped installer) with Debian's
# mingw-w64 toolchain.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
