# Warning flags shared by every target of the project.
function(vxdiag_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Werror=switch)
  if(VXDIAG_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
