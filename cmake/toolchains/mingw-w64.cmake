# Cross build for Windows with Debian's mingw-w64 (posix thread model, so
# that std::thread and std::mutex work). OPOSSVC_MINGW_TRIPLET picks the width
# (x86_64-w64-mingw32 unless set). Programs link statically: no libstdc++,
# libgcc or winpthread DLLs to ship beside them. Wine runs them on the build
# machine (ctest, gtest_discover_tests).
if(NOT OPOSSVC_MINGW_TRIPLET)
  set(OPOSSVC_MINGW_TRIPLET x86_64-w64-mingw32)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OPOSSVC_MINGW_TRIPLET)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${OPOSSVC_MINGW_TRIPLET})
set(CMAKE_C_COMPILER ${OPOSSVC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OPOSSVC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OPOSSVC_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OPOSSVC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(OPOSSVC_WINE NAMES wine wine64)
if(OPOSSVC_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OPOSSVC_WINE})
endif()
