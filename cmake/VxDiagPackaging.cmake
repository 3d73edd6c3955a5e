# Packages of the kit, made by cpack from what `cmake --install` installs:
#
#   cpack -G DEB   Linux x86_64:  packages/vxarvessadiagcore_<version>_amd64.deb
#   cpack -G ZIP   Windows:       packages/VXArvessaDiagCore-<version>-win32.zip (i686)
#                                 or -win64.zip (x86_64)
#
# Package from a Release build. A sanitizer or fuzzing build is never
# packaged (its binaries need the sanitizer runtimes), so it gets no CPack
# configuration and cpack refuses to run there.
if(VXDIAG_SANITIZE OR VXDIAG_FUZZ)
  message(STATUS "No packages from this build: sanitizers or fuzzing are on")
  return()
endif()

set(CPACK_PACKAGE_NAME VXArvessaDiagCore)
set(CPACK_PACKAGE_VENDOR "VXArvessaDiagCore developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Vehicle-diagnostics communication core: K-line (ISO 9141-2, KWP71) over SAE J2534 PassThru")
set(CPACK_PACKAGE_DESCRIPTION
    "A shared library with sixteen C functions VX_* that answer in JSON, its header, CMake package and pkg-config file, the vxdiag command-line host, a simulated PassThru device for development, and Python and C# bindings.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  # Known here for the kit checks: CPack reuses the variable for its source package.
  set(VXDIAG_KIT_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
  set(CPACK_PACKAGE_FILE_NAME ${VXDIAG_KIT_PACKAGE_FILE_NAME})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME vxarvessadiagcore)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VXArvessaDiagCore developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  # Depends: from the libraries the ELF files need (dpkg-shlibdeps), and a
  # shlibs file so that packages built against this one depend on it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
