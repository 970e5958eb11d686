# Shared by the mingw-w64 toolchain files; QS_MINGW_TRIPLE names the target.
# QS_THREAD_MODEL picks the compiler's thread model: "posix" for the tree that
# also builds GoogleTest, "win32" for the shipped setup program, which then
# carries no winpthread.
set(CMAKE_SYSTEM_NAME Windows)

if(NOT QS_THREAD_MODEL)
  if(DEFINED ENV{QS_THREAD_MODEL})
    set(QS_THREAD_MODEL $ENV{QS_THREAD_MODEL})
  else()
    set(QS_THREAD_MODEL posix)
  endif()
endif()
set(ENV{QS_THREAD_MODEL} ${QS_THREAD_MODEL})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QS_THREAD_MODEL)

set(CMAKE_C_COMPILER ${QS_MINGW_TRIPLE}-gcc-${QS_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${QS_MINGW_TRIPLE}-g++-${QS_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${QS_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
