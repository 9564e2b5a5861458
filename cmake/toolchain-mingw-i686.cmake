# Cross-compiles 32-bit Windows binaries (the shipped uninstaller) with mingw-w64, posix threads.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VORO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
