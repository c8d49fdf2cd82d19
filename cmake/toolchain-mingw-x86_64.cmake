# A 64-bit Windows build of the same program, for testing under Wine's 64-bit
# loader on machines that cannot run 32-bit programs (see toolchain-mingw.cmake).
set(MINGW_ARCH "x86_64" CACHE STRING "Target processor: i686 or x86_64")
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
