# Cross toolchain for a Windows console build of tq5 with Debian's MinGW-w64
# compilers.  MINGW_ARCH picks the target: i686 (the 32-bit program, zlib;
# package g++-mingw-w64-i686) or x86_64 (the 64-bit program, ISA-L where
# -DTQ5_ISAL_ROOT gives it; package g++-mingw-w64-x86-64).  Both read zstd,
# xz and bzip2 with static libraries of their processor, from
# -DTQ5_COMPRESSION_ROOT (scripts/build-compression-mingw ARCH builds them).
# The two small files toolchain-mingw-i686.cmake and
# toolchain-mingw-x86_64.cmake set it and include this one:
#
#   scripts/build-compression-mingw i686
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
#         -DTQ5_COMPRESSION_ROOT=build-compression-mingw-i686
#   cmake --build build-win --target tq5
#
# Only the program is built this way: the unit tests need GoogleTest, which
# is not available for this target, so the top-level CMakeLists skips tests
# when cross-compiling.  The Linux test runner drives tq5.exe through Wine.
#
# Options (cache variables, may be given with -D):
#   MINGW_ARCH      i686 or x86_64 (set by the two small files)
#   MINGW_PREFIX    tool prefix, default "<MINGW_ARCH>-w64-mingw32"
#   MINGW_VARIANT   "posix" (the default: the program inflates gzip input
#                   on threads, and only the posix thread model has
#                   std::thread; its winpthread is linked statically), or
#                   "win32", or "" for Debian's default alternative

set(MINGW_ARCH "i686" CACHE STRING "Target processor: i686 or x86_64")
set_property(CACHE MINGW_ARCH PROPERTY STRINGS i686 x86_64)
set(MINGW_PREFIX "${MINGW_ARCH}-w64-mingw32" CACHE STRING
    "Tool prefix of the MinGW-w64 cross compiler")
set(MINGW_VARIANT "posix" CACHE STRING
    "Thread model suffix of the compiler: empty, win32 or posix")

set(CMAKE_SYSTEM_NAME Windows)
if(MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(_mingw_package g++-mingw-w64-x86-64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(_mingw_package g++-mingw-w64-i686)
endif()

if(MINGW_VARIANT)
  set(_mingw_suffix "-${MINGW_VARIANT}")
else()
  set(_mingw_suffix "")
endif()

# Try-compile projects run with this file too; pass the options through.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_ARCH MINGW_PREFIX MINGW_VARIANT)

find_program(_mingw_gcc NAMES "${MINGW_PREFIX}-gcc${_mingw_suffix}" NO_CACHE)
find_program(_mingw_gxx NAMES "${MINGW_PREFIX}-g++${_mingw_suffix}" NO_CACHE)
if(NOT _mingw_gcc OR NOT _mingw_gxx)
  message(FATAL_ERROR
    "${MINGW_PREFIX}-gcc${_mingw_suffix} / -g++${_mingw_suffix} not "
    "found; on Debian: apt-get install ${_mingw_package}")
endif()

set(CMAKE_C_COMPILER   "${_mingw_gcc}")
set(CMAKE_CXX_COMPILER "${_mingw_gxx}")
find_program(CMAKE_RC_COMPILER NAMES "${MINGW_PREFIX}-windres")
find_program(CMAKE_AR          NAMES "${MINGW_PREFIX}-ar")
find_program(CMAKE_RANLIB      NAMES "${MINGW_PREFIX}-ranlib")
find_program(CMAKE_STRIP       NAMES "${MINGW_PREFIX}-strip")

# Look for target headers and libraries only in the MinGW sysroot, but for
# build tools (programs) only on the host.
set(CMAKE_FIND_ROOT_PATH "/usr/${MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the GCC runtime, libstdc++ and winpthread statically so that the .exe
# needs nothing but the system DLLs (KERNEL32, msvcrt) on a bare Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
