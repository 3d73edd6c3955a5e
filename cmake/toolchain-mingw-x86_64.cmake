# Cross build for Windows x86_64 with Debian's mingw-w64. Tests run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VXDIAG_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# Debian's wine64 loader, called directly: the `wine` wrapper script may pick
# a 32-bit loader. add_test commands of this build run through it.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
