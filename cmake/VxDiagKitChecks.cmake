# Checks of the host developers' kit in the build's own ctest run.
#
# tests/kit is a host project that links the core like any other; here it is
# built against this tree's core (the test command also builds it against the
# unpacked Debian package). Compiling it checks that the public header is
# clean C99 and C++ with all warnings as errors on every target, the i686
# build included; kit.consumer_session runs it against the simulated VCI
# (Linux, and Windows x86_64 under Wine).
#
# In the Windows builds, kit.windows_zip makes cpack's ZIP and two static
# checks read it: kit.windows_zip_content (the promised files, the DLL's
# VERSIONINFO, the .def and both import libraries naming the exports) and
# binary_check.kit_dll (the packaged DLL's machine type, exports and imports).

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/kit ${PROJECT_BINARY_DIR}/tests/kit)

set(kit_path_prefix "")
if(WIN32)
  # Windows finds a program's DLLs beside it.
  set_target_properties(kit_consumer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/src)
  if(CMAKE_CROSSCOMPILING)
    set(kit_path_prefix "Z:")
  endif()
endif()
if(NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME kit.consumer_session COMMAND kit_consumer "${kit_path_prefix}$<TARGET_FILE:passthru_sim>")
  set_tests_properties(kit.consumer_session PROPERTIES ENVIRONMENT VXSIM_INSTANT=1 LABELS kit TIMEOUT 120)
endif()

if(WIN32 AND DEFINED VXDIAG_KIT_PACKAGE_FILE_NAME)
  set(kit_zip ${CPACK_PACKAGE_DIRECTORY}/${VXDIAG_KIT_PACKAGE_FILE_NAME}.zip)
  set(kit_unpack_dir ${PROJECT_BINARY_DIR}/kit/unpacked)
  add_test(NAME kit.windows_zip
           COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake)
  set_tests_properties(kit.windows_zip PROPERTIES FIXTURES_SETUP windows_zip LABELS kit TIMEOUT 600)

  find_program(VXDIAG_LLVM_NM NAMES llvm-nm-14 llvm-nm DOC "llvm-nm, reads both kinds of import library")
  find_program(VXDIAG_LLVM_READOBJ NAMES llvm-readobj-14 llvm-readobj DOC "llvm-readobj, shows import name types")
  find_program(VXDIAG_STRINGS NAMES strings DOC "binutils strings, reads the VERSIONINFO texts")
  # MSVC decorates a cdecl function with an underscore on i386 only; the
  # import then names the DLL's export without it.
  set(import_prefix __imp_)
  set(import_name_type name)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(import_prefix __imp__)
    set(import_name_type noprefix)
  endif()
  string(REPLACE ";" "," export_names "${VXDIAG_EXPORTS}")
  add_test(NAME kit.windows_zip_content
           COMMAND ${CMAKE_COMMAND} -DZIP=${kit_zip} -DUNPACK_DIR=${kit_unpack_dir} -DEXPORTS=${export_names}
                   -DVERSION=${PROJECT_VERSION} -DNM=${VXDIAG_LLVM_NM} -DREADOBJ=${VXDIAG_LLVM_READOBJ}
                   -DSTRINGS=${VXDIAG_STRINGS}
                   -DIMPORT_PREFIX=${import_prefix} -DIMPORT_NAME_TYPE=${import_name_type}
                   -DHEADER=${PROJECT_SOURCE_DIR}/include/VXArvessaDiagCore.h
                   -P ${PROJECT_SOURCE_DIR}/cmake/VxDiagCheckKit.cmake)
  set_tests_properties(kit.windows_zip_content PROPERTIES
    FIXTURES_REQUIRED windows_zip FIXTURES_SETUP windows_kit_tree LABELS kit TIMEOUT 120)

  vxdiag_add_binary_check(binary_check.kit_dll ${kit_unpack_dir}/${VXDIAG_KIT_PACKAGE_FILE_NAME}/bin/VXArvessaDiagCore.dll
                          EXACT EXPORTS ${VXDIAG_EXPORTS})
  set_tests_properties(binary_check.kit_dll PROPERTIES FIXTURES_REQUIRED windows_kit_tree)
endif()
