# The shipped 32-bit Windows console program, tq5.exe in the zip; it
# inflates with zlib (see toolchain-mingw.cmake).
set(MINGW_ARCH "i686" CACHE STRING "Target processor: i686 or x86_64")
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
