# Warning flags shared by every target of the project.
function(vxdiag_warnings target)
  # Members a designated initialiser leaves out keep their default member
  # initialisers; that is what the aggregates with defaults are for.
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Werror=switch -Wno-missing-field-initializers)
  if(VXDIAG_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # GCC 12 reports -Wrestrict false positives inside libstdc++'s
  # operator+(const char*, std::string&&) when optimising (GCC bug 105651),
  # e.g. in the i686 Release build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
