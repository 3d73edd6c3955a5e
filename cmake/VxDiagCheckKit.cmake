# Checks the Windows kit that cpack made. Run in script mode by the ctest
# check kit.windows_zip_content:
#
#   cmake -DZIP=<zip> -DUNPACK_DIR=<folder> -DEXPORTS=<a,b,c> -DVERSION=<x.y.z>
#         -DNM=<llvm-nm> -DREADOBJ=<llvm-readobj> -DSTRINGS=<binutils strings>
#         -DIMPORT_PREFIX=<__imp__ on i386, __imp_ on x86_64>
#         -DIMPORT_NAME_TYPE=<noprefix on i386, name on x86_64>
#         -DHEADER=<the source tree's public header> -P VxDiagCheckKit.cmake
#
# The zip must hold the kit's files below its one top folder, the header as
# in the source tree, a DLL with a VERSIONINFO resource of VERSION, and a
# .def and two import libraries (MSVC's and MinGW's) that name exactly the
# EXPORTS. MSVC's must import each by the DLL's undecorated name (on i386 the
# name type "noprefix" drops the underscore of the cdecl symbol _VX_...), or
# a program linked with it would not load. The zip is left unpacked in
# UNPACK_DIR for the binary check of the DLL. Everything is read, nothing
# run: the i686 DLL cannot run here.

cmake_minimum_required(VERSION 3.25)

foreach(required ZIP UNPACK_DIR EXPORTS VERSION NM READOBJ STRINGS IMPORT_PREFIX IMPORT_NAME_TYPE HEADER)
  if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
    message(FATAL_ERROR "VxDiagCheckKit: ${required} is not set")
  endif()
endforeach()
string(REPLACE "," ";" expected_exports "${EXPORTS}")
list(SORT expected_exports)
set(problems "")

# Runs a tool; its standard output goes to out_var, a failure ends the check.
function(run_tool out_var)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "VxDiagCheckKit: '${ARGN}' failed (${rc}): ${err}")
  endif()
  set(${out_var} "${output}" PARENT_SCOPE)
endfunction()

# compare_names(<what> <found list>): the found names must be the exports.
function(compare_names what found)
  list(SORT found)
  if(NOT found STREQUAL expected_exports)
    string(REPLACE ";" " " found_text "${found}")
    set(problems ${problems} "${what} names [${found_text}] instead of the exports" PARENT_SCOPE)
  endif()
endfunction()

# The files, below the zip's top folder.
run_tool(listing ${CMAKE_COMMAND} -E tar tf ${ZIP})
string(REGEX MATCH "^[^/\n]+" top "${listing}")
string(REPLACE "\n" ";" entries "${listing}")
foreach(file IN ITEMS
    README.txt bin/VXArvessaDiagCore.dll bin/vxdiag.exe bin/simulated-vci/vxdiag-simulated-vci.dll
    include/VXArvessaDiagCore.h lib/VXArvessaDiagCore.lib lib/libVXArvessaDiagCore.dll.a lib/VXArvessaDiagCore.def
    lib/cmake/VXArvessaDiagCore/VXArvessaDiagCoreConfig.cmake
    lib/cmake/VXArvessaDiagCore/VXArvessaDiagCoreConfigVersion.cmake
    lib/cmake/VXArvessaDiagCore/VXArvessaDiagCoreTargets.cmake lib/pkgconfig/VXArvessaDiagCore.pc
    share/VXArvessaDiagCore/bindings/python/vxdiagcore/__init__.py
    share/VXArvessaDiagCore/bindings/python/pyproject.toml
    share/VXArvessaDiagCore/bindings/dotnet/NativeMethods.cs share/doc/VXArvessaDiagCore/hosts.md
    share/VXArvessaDiagCore/examples/rows-simulated-vehicle.json)
  if(NOT "${top}/${file}" IN_LIST entries)
    list(APPEND problems "missing ${file}")
  endif()
endforeach()
message(STATUS "${ZIP}: ${top}/ holds the kit's files")

file(REMOVE_RECURSE ${UNPACK_DIR})
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${UNPACK_DIR})
set(kit ${UNPACK_DIR}/${top})

file(SHA256 ${HEADER} source_header)
file(SHA256 ${kit}/include/VXArvessaDiagCore.h kit_header)
if(NOT source_header STREQUAL kit_header)
  list(APPEND problems "include/VXArvessaDiagCore.h differs from the source tree's header")
endif()

# VERSIONINFO: each key's text is the next UTF-16 string of the resource.
run_tool(dll_strings ${STRINGS} -el ${kit}/bin/VXArvessaDiagCore.dll)
string(REPLACE ";" "," dll_strings "${dll_strings}")
string(REPLACE "\n" ";" dll_strings "${dll_strings}")
foreach(pair IN ITEMS "FileVersion=${VERSION}" "ProductVersion=${VERSION}" "ProductName=VXArvessaDiagCore"
                      "FileDescription=VXArvessaDiagCore .+")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 key)
  list(GET pair 1 value_regex)
  list(FIND dll_strings ${key} at)
  set(value "")
  if(at GREATER -1)
    math(EXPR at "${at} + 1")
    list(GET dll_strings ${at} value)
  endif()
  if(NOT value MATCHES "^${value_regex}$")
    list(APPEND problems "VERSIONINFO: ${key} is '${value}', expected '${value_regex}'")
  endif()
  message(STATUS "VXArvessaDiagCore.dll VERSIONINFO ${key}: ${value}")
endforeach()

file(STRINGS ${kit}/lib/VXArvessaDiagCore.def def_lines REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*$")
list(TRANSFORM def_lines STRIP)
compare_names("lib/VXArvessaDiagCore.def" "${def_lines}")

run_tool(import_members ${READOBJ} ${kit}/lib/VXArvessaDiagCore.lib)
string(REGEX MATCHALL "Name type: [a-z]+" name_types "${import_members}")
list(REMOVE_DUPLICATES name_types)
if(NOT name_types STREQUAL "Name type: ${IMPORT_NAME_TYPE}")
  list(APPEND problems "lib/VXArvessaDiagCore.lib imports by '${name_types}', expected '${IMPORT_NAME_TYPE}'")
endif()
message(STATUS "lib/VXArvessaDiagCore.lib imports the exports by ${name_types}")

# Each import library names the import thunk of every export, and no other.
foreach(library IN ITEMS VXArvessaDiagCore.lib libVXArvessaDiagCore.dll.a)
  run_tool(symbols ${NM} ${kit}/lib/${library})
  string(REGEX MATCHALL " ${IMPORT_PREFIX}[A-Za-z0-9_]+" thunks "${symbols}")
  list(TRANSFORM thunks REPLACE "^ ${IMPORT_PREFIX}" "")
  list(REMOVE_DUPLICATES thunks)
  compare_names("lib/${library}" "${thunks}")
  list(LENGTH thunks thunk_count)
  message(STATUS "lib/${library}: ${thunk_count} ${IMPORT_PREFIX} import thunks")
endforeach()

if(problems)
  list(JOIN problems "\n  " problem_text)
  message(FATAL_ERROR "${ZIP} fails its kit check:\n  ${problem_text}")
endif()
