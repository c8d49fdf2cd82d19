# Cross toolchain for a 32-bit Windows console build of tq5 with Debian's
# i686-w64-mingw32 compiler (packages g++-mingw-w64-i686, wine, wine32).
#
#   cmake -S . -B build-win32 \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#   cmake --build build-win32 --target tq5
#
# Only the program is built this way: the unit tests need GoogleTest, which
# is not available for this target, so the top-level CMakeLists skips tests
# when cross-compiling.  The Linux test binaries drive tq5.exe through Wine.
#
# Options (cache variables, may be given with -D):
#   MINGW_I686_PREFIX   tool prefix, default "i686-w64-mingw32"
#   MINGW_I686_VARIANT  "" (Debian's default alternative, the win32 thread
#                       model), "win32" or "posix"

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MINGW_I686_PREFIX "i686-w64-mingw32" CACHE STRING
    "Tool prefix of the i686 MinGW-w64 cross compiler")
set(MINGW_I686_VARIANT "" CACHE STRING
    "Thread model suffix of the compiler: empty, win32 or posix")

if(MINGW_I686_VARIANT)
  set(_mingw_suffix "-${MINGW_I686_VARIANT}")
else()
  set(_mingw_suffix "")
endif()

# Try-compile projects run with this file too; pass the options through.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     MINGW_I686_PREFIX MINGW_I686_VARIANT)

find_program(_mingw_gcc NAMES "${MINGW_I686_PREFIX}-gcc${_mingw_suffix}" NO_CACHE)
find_program(_mingw_gxx NAMES "${MINGW_I686_PREFIX}-g++${_mingw_suffix}" NO_CACHE)
if(NOT _mingw_gcc OR NOT _mingw_gxx)
  message(FATAL_ERROR
    "${MINGW_I686_PREFIX}-gcc${_mingw_suffix} / -g++${_mingw_suffix} not "
    "found; on Debian: apt-get install g++-mingw-w64-i686")
endif()

set(CMAKE_C_COMPILER   "${_mingw_gcc}")
set(CMAKE_CXX_COMPILER "${_mingw_gxx}")
find_program(CMAKE_RC_COMPILER NAMES "${MINGW_I686_PREFIX}-windres")
find_program(CMAKE_AR          NAMES "${MINGW_I686_PREFIX}-ar")
find_program(CMAKE_RANLIB      NAMES "${MINGW_I686_PREFIX}-ranlib")
find_program(CMAKE_STRIP       NAMES "${MINGW_I686_PREFIX}-strip")

# Look for target headers and libraries only in the MinGW sysroot, but for
# build tools (programs) only on the host.
set(CMAKE_FIND_ROOT_PATH "/usr/${MINGW_I686_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the GCC runtime, libstdc++ and winpthread statically so that the .exe
# needs nothing but the system DLLs (KERNEL32, msvcrt) on a bare Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Let ctest and add_test() run target executables through Wine when it is
# installed.  find_program ignores the root path for programs (see above).
find_program(MINGW_I686_WINE NAMES wine wine32 wine64)
if(MINGW_I686_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${MINGW_I686_WINE}")
endif()
