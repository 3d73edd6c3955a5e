# Cross build for Windows i686 (the production target) with Debian's mingw-w64
# (posix thread model). This machine cannot run 32-bit x86 code, so the build
# is checked statically (machine type, export and import tables) instead of run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VXDIAG_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VXDIAG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VXDIAG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VXDIAG_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VXDIAG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
