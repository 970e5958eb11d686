# Cross toolchain for the 32-bit Windows tree (mingw-w64, i686).
# QS_THREAD_MODEL picks the compiler's thread model: "posix" for the tree that
# also builds GoogleTest, "win32" for the shipped setup program, which then
# carries no winpthread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

if(NOT QS_THREAD_MODEL)
  if(DEFINED ENV{QS_THREAD_MODEL})
    set(QS_THREAD_MODEL $ENV{QS_THREAD_MODEL})
  else()
    set(QS_THREAD_MODEL posix)
  endif()
endif()
set(ENV{QS_THREAD_MODEL} ${QS_THREAD_MODEL})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QS_THREAD_MODEL)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${QS_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${QS_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
