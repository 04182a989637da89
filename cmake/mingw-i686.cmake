# The 32-bit edition with Debian's mingw-w64 GCC.
set(BRASTOW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
