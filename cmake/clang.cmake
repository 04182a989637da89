# Cross compiling for Windows with Debian's clang and lld (version 19), against the
# mingw-w64 headers and libraries and GCC's posix libstdc++. Included by clang-i686.cmake
# (the 32-bit edition) and clang-x86_64.cmake (the 64-bit edition), which set
# BRASTOW_ARCH first.
#
# Why each setting:
# - lld 19, not 14: lld 14 writes the export table with ordinal base 0 and an empty slot.
# - lld ignores --major/minor-image-version: the image version goes in as the
#   link.exe-style -version:1.3 through -Xlink (see CMakeLists.txt).
# - clang does not find GCC's folder named 12-posix by itself: its C++ headers and
#   libraries are given here; -lpthread is what the GCC posix driver adds on its own.
# - llvm-rc follows rc.exe (the dialog template spells out every style, so both agree).
include(${CMAKE_CURRENT_LIST_DIR}/target.cmake)
set(BRASTOW_LLVM_VERSION 19)
set(CMAKE_C_COMPILER clang-${BRASTOW_LLVM_VERSION})
set(CMAKE_CXX_COMPILER clang++-${BRASTOW_LLVM_VERSION})
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER llvm-windres-${BRASTOW_LLVM_VERSION})
set(CMAKE_RC_FLAGS_INIT "--target=${TOOLCHAIN_PREFIX}")  # its own default is the build machine
set(CMAKE_AR /usr/bin/llvm-ar-${BRASTOW_LLVM_VERSION} CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/llvm-ranlib-${BRASTOW_LLVM_VERSION} CACHE FILEPATH "")
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})

# GCC's posix C++ library for this target (the newest installed).
file(GLOB _gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
list(SORT _gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET _gcc_dirs 0 BRASTOW_GCC_DIR)
get_filename_component(_gcc_version ${BRASTOW_GCC_DIR} NAME)
string(REPLACE "-posix" "" _gcc_version ${_gcc_version})
set(_cxx_include /usr/lib/gcc/${TOOLCHAIN_PREFIX}/${_gcc_version}-posix/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${_cxx_include} -isystem ${_cxx_include}/${TOOLCHAIN_PREFIX}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld-${BRASTOW_LLVM_VERSION} -L${BRASTOW_GCC_DIR} -lpthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld-${BRASTOW_LLVM_VERSION} -L${BRASTOW_GCC_DIR} -lpthread")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld-${BRASTOW_LLVM_VERSION} -L${BRASTOW_GCC_DIR} -lpthread")

