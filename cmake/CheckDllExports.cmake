# Fails when the DLL's export table names an internal symbol (one in
# opossvc::detail) or exports nothing of the public API.
#   cmake -DOBJDUMP=<objdump> -DDLL=<libopossvc.dll> -P CheckDllExports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table.*" exports "${table}")
if(NOT exports MATCHES "8CPortdrv")
  message(FATAL_ERROR "${DLL} exports no CPortdrv: is the export table missing?")
endif()
string(REGEX MATCHALL "[^\n]*detail[^\n]*" internal "${exports}")
if(internal)
  list(JOIN internal "\n" internal)
  message(FATAL_ERROR "${DLL} exports internal symbols:\n${internal}")
endif()
