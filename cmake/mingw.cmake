# Cross compiling for Windows with Debian's mingw-w64 GCC (posix thread variant). Included
# by mingw-i686.cmake (the 32-bit edition) and mingw-x86_64.cmake (the 64-bit edition),
# which set BRASTOW_ARCH first.
include(${CMAKE_CURRENT_LIST_DIR}/target.cmake)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
