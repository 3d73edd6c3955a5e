# Cross build for Windows x86_64 with Debian's mingw-w64 (posix thread model,
# needed for std::mutex and GoogleTest). Tests run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VXDIAG_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VXDIAG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VXDIAG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VXDIAG_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VXDIAG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 loader, called directly: the `wine` wrapper script may pick
# a 32-bit loader. add_test commands of this build run through it.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
