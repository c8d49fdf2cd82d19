# The libraries of the compressed formats other than gzip: libzstd, liblzma
# and libbz2, found here as the system's shared libraries (on Debian
# libzstd-dev, liblzma-dev, libbz2-dev), which the Linux program then needs
# at run time.  tq5_compression_libraries carries all three.
find_path(TQ5_ZSTD_INCLUDE zstd.h)
find_library(TQ5_ZSTD_LIBRARY NAMES zstd)
find_path(TQ5_LZMA_INCLUDE lzma.h)
find_library(TQ5_LZMA_LIBRARY NAMES lzma)
find_path(TQ5_BZIP2_INCLUDE bzlib.h)
find_library(TQ5_BZIP2_LIBRARY NAMES bz2)
foreach(library ZSTD LZMA BZIP2)
  if(NOT TQ5_${library}_INCLUDE OR NOT TQ5_${library}_LIBRARY)
    message(FATAL_ERROR "${library} not found: on Debian libzstd-dev, liblzma-dev and libbz2-dev")
  endif()
endforeach()
add_library(tq5_compression_libraries INTERFACE)
target_include_directories(tq5_compression_libraries SYSTEM INTERFACE
  ${TQ5_ZSTD_INCLUDE} ${TQ5_LZMA_INCLUDE} ${TQ5_BZIP2_INCLUDE})
target_link_libraries(tq5_compression_libraries INTERFACE
  ${TQ5_ZSTD_LIBRARY} ${TQ5_LZMA_LIBRARY} ${TQ5_BZIP2_LIBRARY})
message(STATUS "tq5 reads zstd, xz and bzip2 with ${TQ5_ZSTD_LIBRARY}, ${TQ5_LZMA_LIBRARY}, ${TQ5_BZIP2_LIBRARY}")
