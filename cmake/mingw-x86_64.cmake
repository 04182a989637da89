# The 64-bit edition with Debian's mingw-w64 GCC.
set(BRASTOW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
