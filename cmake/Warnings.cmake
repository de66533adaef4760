# Warning set shared by every target of the project.
function(opossvc_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(OPOSSVC_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
