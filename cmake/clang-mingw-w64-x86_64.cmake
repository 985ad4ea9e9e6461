# Cross build for 64-bit Windows with clang and lld, on the headers, import
# libraries and C++ runtime of Debian's mingw-w64 (g++-mingw-w64-x86-64): a second
# compiler and linker for the same program, next to mingw-w64-x86_64.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})

# clang finds the mingw-w64 headers and libraries under /usr/x86_64-w64-mingw32,
# but not GCC's own directory: Debian names it 12-posix, which clang does not
# read as a GCC version. Ask the GCC of the posix thread model (the one the other
# Windows build uses) where it is, for libstdc++'s headers and the static
# libstdc++, libgcc and libgcc_eh.
execute_process(
  COMMAND ${TOOLCHAIN_PREFIX}-gcc-posix -print-libgcc-file-name
  OUTPUT_VARIABLE libgccFile
  OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(VDKSVC_MINGW_GCC_DIR ${libgccFile} DIRECTORY)
set(libstdcxxIncludes
    "-stdlib++-isystem ${VDKSVC_MINGW_GCC_DIR}/include/c++"
    "-stdlib++-isystem ${VDKSVC_MINGW_GCC_DIR}/include/c++/${TOOLCHAIN_PREFIX}"
    "-stdlib++-isystem ${VDKSVC_MINGW_GCC_DIR}/include/c++/backward")
list(JOIN libstdcxxIncludes " " libstdcxxIncludes)
set(CMAKE_CXX_FLAGS_INIT "${libstdcxxIncludes}")
# -pthread: libstdc++ and libgcc_eh of the posix thread model call winpthread,
# which GCC's driver adds by itself and clang's only when asked.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -pthread -L${VDKSVC_MINGW_GCC_DIR}")
