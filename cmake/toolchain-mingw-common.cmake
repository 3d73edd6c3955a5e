# The part of a Windows cross build that does not depend on the target:
# Debian's mingw-w64 compilers with the posix thread model (std::mutex and
# GoogleTest need it), and look-ups only below the target's sysroot.
# The including toolchain file sets CMAKE_SYSTEM_PROCESSOR and
# VXDIAG_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VXDIAG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VXDIAG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VXDIAG_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VXDIAG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
