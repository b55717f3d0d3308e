# Third-party libraries, built for the target from Debian's source packages.
# scripts/fetch-sources.sh puts the unpacked sources in a cache outside the
# build tree (QV_DEPS_CACHE), so a new build tree never fetches again.

set(QV_DEPS_CACHE "$ENV{QV_DEPS_CACHE}" CACHE PATH "Folder with the unpacked dependency sources")
if(NOT QV_DEPS_CACHE)
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/fetch-sources.sh
    OUTPUT_VARIABLE _deps OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Could not fetch the dependency sources (scripts/fetch-sources.sh)")
  endif()
  set(QV_DEPS_CACHE "${_deps}" CACHE PATH "Folder with the unpacked dependency sources" FORCE)
endif()

# --- bzip2 1.0.8: the library part only, as a static library ---------------
set(BZIP2_SOURCE_DIR ${QV_DEPS_CACHE}/bzip2-1.0.8)
add_library(bz2 STATIC
  ${BZIP2_SOURCE_DIR}/blocksort.c ${BZIP2_SOURCE_DIR}/huffman.c
  ${BZIP2_SOURCE_DIR}/crctable.c  ${BZIP2_SOURCE_DIR}/randtable.c
  ${BZIP2_SOURCE_DIR}/compress.c  ${BZIP2_SOURCE_DIR}/decompress.c
  ${BZIP2_SOURCE_DIR}/bzlib.c)
target_include_directories(bz2 SYSTEM PUBLIC ${BZIP2_SOURCE_DIR})
target_compile_options(bz2 PRIVATE -w)
set_target_properties(bz2 PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/_deps/bzip2)
# Boost.Iostreams looks bzip2 up with find_package(BZip2). The cache entries
# make that search succeed, and because a target named BZip2::BZip2 already
# exists, FindBZip2 keeps it: Boost then links our library and CMake builds
# it first.
add_library(BZip2::BZip2 ALIAS bz2)
set(BZIP2_INCLUDE_DIR ${BZIP2_SOURCE_DIR} CACHE PATH "" FORCE)
set(BZIP2_LIBRARY ${CMAKE_BINARY_DIR}/_deps/bzip2/libbz2.a CACHE FILEPATH "" FORCE)
set(BZIP2_LIBRARY_RELEASE ${BZIP2_LIBRARY} CACHE FILEPATH "" FORCE)
set(BZIP2_NEED_PREFIX 1 CACHE INTERNAL "")

# --- Boost 1.81 through its own CMake --------------------------------------
set(BOOST_INCLUDE_LIBRARIES iostreams filesystem system uuid format algorithm)
# Boost.Atomic would link the synchronization import library, which names the
# API set api-ms-win-core-synch-l1-2-0 for CreateMutexW, Sleep and
# WaitForSingleObject too: programs would not start on Windows 7, where that
# name is no API set and would be searched beside the program.
set(BOOST_ATOMIC_HAS_SYNCHRONIZATION_LIB OFF CACHE INTERNAL "")
set(BOOST_IOSTREAMS_ENABLE_BZIP2 ON CACHE BOOL "" FORCE)
set(BOOST_IOSTREAMS_ENABLE_ZLIB OFF CACHE BOOL "" FORCE)
set(BOOST_IOSTREAMS_ENABLE_LZMA OFF CACHE BOOL "" FORCE)
set(BOOST_IOSTREAMS_ENABLE_ZSTD OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF)
set(BUILD_TESTING_SAVED ${BUILD_TESTING})
set(BUILD_TESTING OFF)
add_subdirectory(${QV_DEPS_CACHE}/boost-1.81.0 ${CMAKE_BINARY_DIR}/_deps/boost EXCLUDE_FROM_ALL SYSTEM)
set(BUILD_TESTING ${BUILD_TESTING_SAVED})

# --- GoogleTest from Debian's googletest package ---------------------------
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
