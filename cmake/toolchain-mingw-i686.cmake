# Cross build for Windows i686 (the production target) with Debian's mingw-w64.
# This machine cannot run 32-bit x86 code, so the build is checked statically
# (machine type, export and import tables) instead of run.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VXDIAG_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
