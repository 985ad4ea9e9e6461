# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# The posix thread model: the win32 one has no std::mutex, which GoogleTest's
# Windows build needs. With -static, winpthread is linked in, not a DLL.
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
