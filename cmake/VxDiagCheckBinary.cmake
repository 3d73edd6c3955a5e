# Checks a built shared library's export (and, for Windows DLLs, import) table.
# Run in script mode by the ctest checks that vxdiag_add_binary_check registers:
#
#   cmake -DFILE=<library> -DFORMAT=elf|pe -DTOOL=<nm or objdump>
#         -DEXPORTS=<a,b,c> [-DEXACT=ON] [-DEXTRA_EXPORTS_REGEX=<regex>]
#         [-DMACHINE=<objdump file format, e.g. pei-i386>] [-DIMPORTS_REGEX=<regex>]
#         -P VxDiagCheckBinary.cmake
#
# EXPORTS are the names the library must export, undecorated. With EXACT the
# library must export nothing else; otherwise any further export must match
# EXTRA_EXPORTS_REGEX. Every imported DLL name must match IMPORTS_REGEX
# (case-insensitively). Lists are comma-separated to survive add_test.

cmake_minimum_required(VERSION 3.25)

foreach(required FILE FORMAT TOOL EXPORTS)
  if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
    message(FATAL_ERROR "VxDiagCheckBinary: ${required} is not set")
  endif()
endforeach()
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "VxDiagCheckBinary: ${FILE} does not exist")
endif()

string(REPLACE "," ";" expected "${EXPORTS}")
list(SORT expected)
set(problems "")

# tool_lines(<out> <option>...): the lines TOOL prints for FILE, as a list.
# Square brackets would keep CMake from splitting the list at the semicolons
# between them; semicolons themselves are list separators.
function(tool_lines out)
  execute_process(COMMAND "${TOOL}" ${ARGN} "${FILE}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TOOL} ${ARGN} failed on ${FILE}: ${err}")
  endif()
  string(REPLACE ";" "," listing "${listing}")
  string(REPLACE "[" "<" listing "${listing}")
  string(REPLACE "]" ">" listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

if(FORMAT STREQUAL "elf")
  tool_lines(lines -D --defined-only)
  set(actual "")
  foreach(line IN LISTS lines)
    # "<address> <type> <name>[@@version]"
    if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ @]+)")
      set(name "${CMAKE_MATCH_1}")
      # Section markers some linkers put into the dynamic symbol table.
      if(NOT name MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
        list(APPEND actual "${name}")
      endif()
    endif()
  endforeach()
elseif(FORMAT STREQUAL "pe")
  if(DEFINED MACHINE AND NOT MACHINE STREQUAL "")
    execute_process(COMMAND "${TOOL}" -f "${FILE}"
                    OUTPUT_VARIABLE header RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${TOOL} -f failed on ${FILE}: ${err}")
    endif()
    string(REGEX MATCH "file format [^\n]*" found "${header}")
    message(STATUS "${FILE}: ${found}")
    if(NOT header MATCHES "file format ${MACHINE}\n")
      list(APPEND problems "machine type: expected 'file format ${MACHINE}', found '${found}'")
    endif()
  endif()

  tool_lines(lines -p)
  set(actual "")
  set(imports "")
  set(in_names OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^\tDLL Name: (.+)$")
      list(APPEND imports "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^<Ordinal/Name Pointer> Table")
      set(in_names ON)
    elseif(in_names)
      if(line MATCHES "^\t< *[0-9]+> (.+)$")
        list(APPEND actual "${CMAKE_MATCH_1}")
      else()
        set(in_names OFF)
      endif()
    endif()
  endforeach()

  if(DEFINED IMPORTS_REGEX AND NOT IMPORTS_REGEX STREQUAL "")
    if(imports STREQUAL "")
      list(APPEND problems "no import table found")
    endif()
    foreach(dll IN LISTS imports)
      string(TOLOWER "${dll}" dll_lower)
      string(TOLOWER "${IMPORTS_REGEX}" regex_lower)
      if(NOT dll_lower MATCHES "${regex_lower}")
        list(APPEND problems "imports ${dll}, which is not a Windows system DLL")
      endif()
    endforeach()
  endif()
else()
  message(FATAL_ERROR "VxDiagCheckBinary: unknown FORMAT '${FORMAT}'")
endif()

list(SORT actual)
foreach(name IN LISTS expected)
  if(NOT name IN_LIST actual)
    list(APPEND problems "missing export ${name}")
  endif()
endforeach()
foreach(name IN LISTS actual)
  if(name IN_LIST expected)
    continue()
  endif()
  if(name MATCHES "@")
    list(APPEND problems "decorated export ${name}")
  elseif(EXACT OR NOT DEFINED EXTRA_EXPORTS_REGEX OR NOT name MATCHES "${EXTRA_EXPORTS_REGEX}")
    list(APPEND problems "unexpected export ${name}")
  endif()
endforeach()

list(LENGTH actual export_count)
string(REPLACE ";" " " actual_text "${actual}")
if(FORMAT STREQUAL "pe")
  string(REPLACE ";" " " imports_text "${imports}")
  message(STATUS "${FILE}: imports ${imports_text}")
endif()
message(STATUS "${FILE}: ${export_count} exports: ${actual_text}")
if(problems)
  string(REPLACE ";" "\n  " problem_text "${problems}")
  message(FATAL_ERROR "${FILE} fails its binary check:\n  ${problem_text}")
endif()
