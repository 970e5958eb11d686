# Cross toolchain for the 32-bit Windows tree (mingw-w64, i686): the shipped
# setup program.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QS_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
