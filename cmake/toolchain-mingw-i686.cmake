# Cross build for Windows i686 (the production target) with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VXDIAG_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# Debian's 32-bit Wine loader (package wine32:i386), called directly; add_test
# commands of this build run through it. Run inside a 64-bit prefix made by
# wine64, it is a 32-bit process on 64-bit Windows, as in production. Where
# the kernel cannot execute 32-bit code, configure with an empty
# -DCMAKE_CROSSCOMPILING_EMULATOR= and only the static checks are registered.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
endif()
