# ctest checks on the built shared libraries: the export table holds exactly
# the intended names, undecorated, and on Windows the machine type is the
# target's and only Windows system DLLs are imported (the C++ runtime, libgcc
# and winpthread are linked statically). They read the files with binutils and
# so also run in the i686 build, whose programs this machine cannot execute.

# DLLs that every Windows installation has.
set(VXDIAG_WINDOWS_SYSTEM_DLLS
  "^(kernel32|kernelbase|advapi32|msvcrt|ucrtbase|user32|gdi32|shell32|shlwapi|ole32|oleaut32|version|ws2_32|bcrypt|ntdll|setupapi|api-ms-win-[a-z0-9-]+)\\.dll$")

# vxdiag_add_binary_check(<test name> <library target or file>
#                         EXPORTS <name>... [EXACT] [EXTRA_EXPORTS_REGEX <regex>])
# A file is checked as it is when the test runs (e.g. the DLL of a package).
function(vxdiag_add_binary_check test_name target)
  cmake_parse_arguments(arg "EXACT" "EXTRA_EXPORTS_REGEX" "EXPORTS" ${ARGN})
  string(REPLACE ";" "," export_names "${arg_EXPORTS}")
  set(file ${target})
  if(TARGET ${target})
    set(file $<TARGET_FILE:${target}>)
  endif()
  set(args -DFILE=${file} -DEXPORTS=${export_names})
  if(arg_EXACT)
    list(APPEND args -DEXACT=ON)
  endif()
  if(arg_EXTRA_EXPORTS_REGEX)
    list(APPEND args "-DEXTRA_EXPORTS_REGEX=${arg_EXTRA_EXPORTS_REGEX}")
  endif()

  if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(machine pei-i386)
    else()
      set(machine pei-x86-64)
    endif()
    list(APPEND args -DFORMAT=pe -DTOOL=${CMAKE_OBJDUMP} -DMACHINE=${machine}
                     "-DIMPORTS_REGEX=${VXDIAG_WINDOWS_SYSTEM_DLLS}")
  else()
    list(APPEND args -DFORMAT=elf -DTOOL=${CMAKE_NM})
  endif()

  add_test(NAME ${test_name}
           COMMAND ${CMAKE_COMMAND} ${args} -P ${PROJECT_SOURCE_DIR}/cmake/VxDiagCheckBinary.cmake)
  set_tests_properties(${test_name} PROPERTIES LABELS binary-check TIMEOUT 60)
endfunction()

# The core exports exactly the VX_ names built so far.
vxdiag_add_binary_check(binary_check.core_exports VXArvessaDiagCore EXACT EXPORTS ${VXDIAG_EXPORTS})

# The simulated device exports the J2534 entry points undecorated, as vendor
# libraries do, plus its sim_* back door.
if(TARGET passthru_sim)
  vxdiag_add_binary_check(binary_check.sim_exports passthru_sim
    EXPORTS PassThruOpen PassThruClose PassThruConnect PassThruDisconnect
            PassThruReadMsgs PassThruWriteMsgs PassThruIoctl PassThruGetLastError
            PassThruStartMsgFilter PassThruStopMsgFilter
    EXTRA_EXPORTS_REGEX "^sim_[a-z_]+$")
endif()
