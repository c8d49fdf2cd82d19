# The shipped 32-bit Windows console program (see toolchain-mingw.cmake).
set(MINGW_ARCH "i686" CACHE STRING "Target processor: i686 or x86_64")
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
