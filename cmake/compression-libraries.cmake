# The libraries of the compressed formats beside gzip: libzstd (zstd),
# liblzma (xz) and libbz2 (bzip2), as the INTERFACE targets tq5_zstd,
# tq5_lzma and tq5_bzip2.
#
# On Linux they are Debian's shared libraries (libzstd-dev, liblzma-dev,
# libbz2-dev), which the program then needs at run time: the .deb depends on
# libzstd1, liblzma5 and libbz2-1.0.  The Windows programs need nothing but
# KERNEL32 and msvcrt, so they link static ones, each from a root folder
# holding include/ and lib/lib<name>.a:
#
#   -DTQ5_COMPRESSION_ROOT=FOLDER   the three in one folder, as
#                                   scripts/build-compression-mingw ARCH
#                                   builds them from Debian's source packages
#   -DTQ5_ZSTD_ROOT, -DTQ5_LZMA_ROOT, -DTQ5_BZIP2_ROOT
#                                   one library's folder, before
#                                   TQ5_COMPRESSION_ROOT
#
# A root given on Linux links that library statically there too.

set(TQ5_COMPRESSION_ROOT "" CACHE PATH
    "Folder of static libzstd, liblzma and libbz2: include/ and lib/lib*.a")

# tq5_compression_library(NAME HEADER LIBRARY FORMAT DEBIAN-PACKAGE)
function(tq5_compression_library name header library format package)
  string(TOUPPER "${name}" upper)
  set(TQ5_${upper}_ROOT "" CACHE PATH
      "Folder of a static lib${library}: include/${header} and lib/lib${library}.a")
  set(root "${TQ5_${upper}_ROOT}")
  if(NOT root)
    set(root "${TQ5_COMPRESSION_ROOT}")
  endif()
  add_library(tq5_${name} INTERFACE)
  if(root)
    set(include "${root}/include")
    set(lib "${root}/lib/lib${library}.a")
    if(NOT EXISTS "${include}/${header}" OR NOT EXISTS "${lib}")
      message(FATAL_ERROR "${root} holds no include/${header} and lib/lib${library}.a "
                          "(scripts/build-compression-mingw builds them)")
    endif()
    set(how "static, ${lib}")
  elseif(WIN32)
    message(FATAL_ERROR "no static lib${library} for ${format} input: -DTQ5_COMPRESSION_ROOT=FOLDER "
                        "(scripts/build-compression-mingw builds it)")
  else()
    find_path(TQ5_${upper}_INCLUDE "${header}")
    find_library(TQ5_${upper}_LIBRARY NAMES "${library}")
    if(NOT TQ5_${upper}_INCLUDE OR NOT TQ5_${upper}_LIBRARY)
      message(FATAL_ERROR "lib${library} for ${format} input not found: on Debian ${package}")
    endif()
    set(include "${TQ5_${upper}_INCLUDE}")
    set(lib "${TQ5_${upper}_LIBRARY}")
    set(how "${lib}")
  endif()
  target_include_directories(tq5_${name} SYSTEM INTERFACE "${include}")
  target_link_libraries(tq5_${name} INTERFACE "${lib}")
  message(STATUS "tq5 reads ${format} input with lib${library} (${how})")
  if(root AND name STREQUAL "lzma")
    # Without it lzma.h declares the functions as imported from a DLL.
    target_compile_definitions(tq5_lzma INTERFACE LZMA_API_STATIC)
  endif()
endfunction()

tq5_compression_library(zstd zstd.h zstd zstd libzstd-dev)
tq5_compression_library(lzma lzma.h lzma xz liblzma-dev)
tq5_compression_library(bzip2 bzlib.h bz2 bzip2 libbz2-dev)
if(WIN32)
  # bzlib.h includes <windows.h> on Windows: without its min and max macros
  # and its rarely used parts.
  target_compile_definitions(tq5_bzip2 INTERFACE NOMINMAX WIN32_LEAN_AND_MEAN)
endif()

# The three together, for the compressed room.
add_library(tq5_compression_libraries INTERFACE)
target_link_libraries(tq5_compression_libraries INTERFACE tq5_zstd tq5_lzma tq5_bzip2)
