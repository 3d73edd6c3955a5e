# What `cmake --install` adds to the library, header, vxdiag and simulated VCI
# that src/, tools/ and sim/ install: the CMake package, the pkg-config file,
# the bindings' sources and the hosts' guide, and for Windows the MSVC import
# library and the kit's README. project(VERSION) is the one version number of
# all of them. Every path is relative to the install prefix, so the tree works
# wherever it is unpacked (cpack's ZIP, `dpkg-deb -x`, /usr).

include(CMakePackageConfigHelpers)

set(VXDIAG_KIT_BINARY_DIR ${PROJECT_BINARY_DIR}/kit)
set(VXDIAG_PACKAGE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VXArvessaDiagCore)
set(VXDIAG_KIT_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/VXArvessaDiagCore)

# find_package(VXArvessaDiagCore CONFIG) gives VXArvessaDiagCore::VXArvessaDiagCore;
# the same name serves a project that adds this tree with add_subdirectory.
add_library(VXArvessaDiagCore::VXArvessaDiagCore ALIAS VXArvessaDiagCore)
set(VXDIAG_MSVC_IMPORT_LIBRARY ${CMAKE_INSTALL_LIBDIR}/VXArvessaDiagCore.lib)
install(EXPORT VXArvessaDiagCoreTargets NAMESPACE VXArvessaDiagCore::
        FILE VXArvessaDiagCoreTargets.cmake DESTINATION ${VXDIAG_PACKAGE_INSTALL_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VXArvessaDiagCoreConfig.cmake.in
  ${VXDIAG_KIT_BINARY_DIR}/VXArvessaDiagCoreConfig.cmake
  INSTALL_DESTINATION ${VXDIAG_PACKAGE_INSTALL_DIR}
  PATH_VARS VXDIAG_MSVC_IMPORT_LIBRARY)
# Same major version, same pointer size: an x86_64 host never picks the i686 kit.
write_basic_package_version_file(${VXDIAG_KIT_BINARY_DIR}/VXArvessaDiagCoreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${VXDIAG_KIT_BINARY_DIR}/VXArvessaDiagCoreConfig.cmake
              ${VXDIAG_KIT_BINARY_DIR}/VXArvessaDiagCoreConfigVersion.cmake
        DESTINATION ${VXDIAG_PACKAGE_INSTALL_DIR})

# pkg-config finds the prefix from the .pc file's own folder (${pcfiledir}).
set(VXDIAG_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VXDIAG_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
file(RELATIVE_PATH VXDIAG_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH VXDIAG_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
string(REGEX REPLACE "/$" "" VXDIAG_PC_PREFIX "${VXDIAG_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/VXArvessaDiagCore.pc.in
               ${VXDIAG_KIT_BINARY_DIR}/VXArvessaDiagCore.pc @ONLY)
install(FILES ${VXDIAG_KIT_BINARY_DIR}/VXArvessaDiagCore.pc DESTINATION ${VXDIAG_PC_DIR})

# The bindings as sources: a Python package and the C# files that a .NET
# project adds to its own build.
# The Python package's one version is the project's: pyproject.toml states it
# for pip, and a difference stops the configure step.
file(STRINGS ${PROJECT_SOURCE_DIR}/bindings/python/pyproject.toml python_version REGEX "^version = ")
if(NOT python_version STREQUAL "version = \"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "bindings/python/pyproject.toml says '${python_version}', "
                      "the project's version is ${PROJECT_VERSION}: make them the same")
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/vxdiagcore
        DESTINATION ${VXDIAG_KIT_SHARE_DIR}/bindings/python
        PATTERN __pycache__ EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/_build
        DESTINATION ${VXDIAG_KIT_SHARE_DIR}/bindings/python
        PATTERN __pycache__ EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/python/pyproject.toml
        DESTINATION ${VXDIAG_KIT_SHARE_DIR}/bindings/python)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/dotnet/
        DESTINATION ${VXDIAG_KIT_SHARE_DIR}/bindings/dotnet
        FILES_MATCHING PATTERN *.cs PATTERN tests EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/docs/hosts.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Diagnostic rows for the page of `vxdiag serve` on the simulated vehicle.
install(FILES ${PROJECT_SOURCE_DIR}/tools/vxdiag/web/rows-simulated-vehicle.json
        DESTINATION ${VXDIAG_KIT_SHARE_DIR}/examples)

if(WIN32)
  # MSVC's linker wants an import library of its own format, made from the
  # same .def as the DLL's export table. The cdecl exports are undecorated in
  # the DLL; on i386 the import library names them _VX_... / __imp__VX_...,
  # as MSVC decorates a cdecl call, and imports them by the undecorated name.
  find_program(VXDIAG_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool
               DOC "llvm-dlltool, for the MSVC import library (Debian package llvm-14)")
  if(VXDIAG_LLVM_DLLTOOL)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(dlltool_machine i386)
    else()
      set(dlltool_machine i386:x86-64)
    endif()
    set(def_file ${PROJECT_BINARY_DIR}/src/VXArvessaDiagCore.def)
    set(msvc_import_library ${PROJECT_BINARY_DIR}/src/VXArvessaDiagCore.lib)
    add_custom_command(OUTPUT ${msvc_import_library}
      COMMAND ${VXDIAG_LLVM_DLLTOOL} -m ${dlltool_machine} -d ${def_file} -D VXArvessaDiagCore.dll
              -l ${msvc_import_library}
      DEPENDS ${def_file}
      COMMENT "MSVC import library VXArvessaDiagCore.lib")
    add_custom_target(VXArvessaDiagCore_msvc_import_library ALL DEPENDS ${msvc_import_library})
    install(FILES ${msvc_import_library} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  else()
    message(WARNING "llvm-dlltool not found (Debian package llvm-14): the Windows kit has no "
                    "VXArvessaDiagCore.lib for MSVC")
  endif()

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(VXDIAG_KIT_ARCHITECTURE "i686 (32-bit)")
  else()
    set(VXDIAG_KIT_ARCHITECTURE "x86_64 (64-bit)")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/WindowsKitReadme.txt.in ${VXDIAG_KIT_BINARY_DIR}/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${VXDIAG_KIT_BINARY_DIR}/README.txt DESTINATION .)
endif()
