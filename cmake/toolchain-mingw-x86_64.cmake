# Cross-compiles 64-bit Windows binaries with mingw-w64, posix threads. Used for the test build on
# machines whose kernel cannot run 32-bit programs (and so no 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
