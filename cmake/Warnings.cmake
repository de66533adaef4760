# Compile settings shared by every target of the project: the warning set,
# and on Windows the system headers precompiled once per target (parsing
# <windows.h> costs about a second a file).
function(opossvc_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(OPOSSVC_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(OPOSSVC_PRECOMPILE_WINDOWS_H)
    target_precompile_headers(${target} PRIVATE <opossvc/win32/native.h>)
  endif()
endfunction()
