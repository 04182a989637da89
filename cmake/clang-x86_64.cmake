# The 64-bit edition with Debian's clang and lld.
set(BRASTOW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/clang.cmake)
