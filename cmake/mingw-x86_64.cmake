# Cross toolchain for the 64-bit Windows tree (mingw-w64, x86-64): the same
# setup program as a PE32+ for 64-bit applications.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QS_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
