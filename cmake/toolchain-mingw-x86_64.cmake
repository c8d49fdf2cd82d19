# The shipped 64-bit Windows console program, tq5-x64.exe in the zip; with
# -DTQ5_ISAL_ROOT it inflates with ISA-L (see toolchain-mingw.cmake).
set(MINGW_ARCH "x86_64" CACHE STRING "Target processor: i686 or x86_64")
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
