# The 32-bit edition with Debian's clang and lld.
set(BRASTOW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/clang.cmake)
