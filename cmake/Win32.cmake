# Cross tree: the setup program and the tests that run it under Wine. One tree
# per architecture: build/win32 (PE32, the shipped default) and build/win64
# (PE32+), each with its own Wine prefix.
enable_language(RC)
include(cmake/Sources.cmake)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QS_ARCH x64)
  set(QS_TOOLCHAIN ${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake)
  set(QS_STUB_NAME quillset-stub64)
  set(QS_WINEARCH win64)
  set(QS_MANIFEST_ARCH amd64)
else()
  set(QS_ARCH x86)
  set(QS_TOOLCHAIN ${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake)
  set(QS_STUB_NAME quillset-stub)
  set(QS_WINEARCH win32)
  set(QS_MANIFEST_ARCH x86)
endif()
# Windows refuses to start a program whose manifest names another
# architecture, so the manifest is made per tree.
# Every byte string of the program is UTF-8 where Windows honours the entry
# (10 1903 on); the legacy build leaves it out and stands for older Windows.
# The blanks that lay the file out are bytes of every setup file: the
# program carries the manifest on one line.
function(qs_manifest out)
  file(READ ${CMAKE_SOURCE_DIR}/resources/Quillset.manifest.in text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REGEX REPLACE ">[ \n]+<" "><" text "${text}")
  string(REGEX REPLACE "[ \n]+" " " text "${text}")
  string(STRIP "${text}" text)
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
endfunction()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/Quillset.manifest.in)
set(QS_ACTIVE_CODE_PAGE "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>")
qs_manifest(${CMAKE_BINARY_DIR}/generated/Quillset.manifest)
set(QS_ACTIVE_CODE_PAGE "")
qs_manifest(${CMAKE_BINARY_DIR}/generated/legacy/Quillset.manifest)

set(QS_STATIC_LINK -static -static-libgcc -static-libstdc++)
add_compile_options(-ffunction-sections -fdata-sections)
# The shipped program is compiled as one unit (link-time optimisation). It
# throws nothing and asks no type at run time: no exceptions, no RTTI, no
# unwind tables. The tests' tree keeps the defaults (GoogleTest needs them),
# compiling the same sources. Its windows and steps are sized for bytes
# (-Oz); what in the portable core decodes every byte installed, for speed
# as well (-Os).
if(QS_STUB_ONLY)
  add_compile_options(-flto -Oz -fno-asynchronous-unwind-tables -fno-unwind-tables
                      $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions> $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501 WINVER=0x0501)

qs_add_lzma_sdk()
add_library(qs_core STATIC ${QS_CORE_SOURCES})
target_link_libraries(qs_core PRIVATE qs_lzma_decoder)
if(QS_STUB_ONLY)
  # what decodes or checks every byte installed keeps -Os; the rest of the
  # core reads a script or a directory once
  set_source_files_properties(efs/Inflate.cpp efs/Crc32.cpp efs/EntryCodec.cpp efs/SolidStream.cpp efs/Sha256.cpp
                              PROPERTIES COMPILE_OPTIONS -Os)
endif()
# the builder is the command's, and may throw: not part of the setup program
if(NOT QS_STUB_ONLY)
  add_library(qs_builder STATIC ${QS_BUILDER_SOURCES})
  target_link_libraries(qs_builder PUBLIC qs_core z PRIVATE qs_lzma_encoder)
endif()
add_library(qs_win STATIC ${QS_WIN_SOURCES})
target_link_libraries(qs_win PUBLIC qs_core ole32 uuid advapi32 shell32 gdi32 user32 comctl32)

# The side picture as the program stores it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/generated/Wizard.dib.z
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/pack-picture
          ${CMAKE_SOURCE_DIR}/resources/Wizard.bmp ${CMAKE_BINARY_DIR}/generated/Wizard.dib.z
  DEPENDS resources/Wizard.bmp tools/pack-picture)

# The setup program's linker script: the linker's default with .CRT and .tls
# in .data, 512 bytes of the file each (tools/stub-link-script).
if(QS_STUB_ONLY)
  execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/stub-link-script ${CMAKE_LINKER}
                          ${CMAKE_BINARY_DIR}/stub.ld RESULT_VARIABLE QS_LINK_SCRIPT_RESULT)
  if(NOT QS_LINK_SCRIPT_RESULT EQUAL 0)
    message(FATAL_ERROR "tools/stub-link-script failed on ${CMAKE_LINKER}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/stub-link-script)
endif()

# The setup program: GUI subsystem, statically linked, stripped.
function(qs_add_stub name)
  cmake_parse_arguments(S "LEGACY" "" "" ${ARGN})
  add_executable(${name} WIN32 driver/WinMain.cpp resources/Quillset.rc)
  if(S_LEGACY)
    # its manifest first: the resource compiler takes the first it finds
    target_include_directories(${name} BEFORE PRIVATE ${CMAKE_BINARY_DIR}/generated/legacy)
  endif()
  target_link_libraries(${name} PRIVATE qs_win)
  target_link_options(${name} PRIVATE ${QS_STATIC_LINK} -Wl,--gc-sections -s -mwindows)
  # Our own entry point (driver/WinMain.cpp) instead of the run time's start-up,
  # which also patches references to DLLs' data at start: the link refuses them.
  target_link_options(${name} PRIVATE -Wl,--disable-auto-import,--disable-runtime-pseudo-reloc)
  if(QS_ARCH STREQUAL x86)
    target_link_options(${name} PRIVATE -nostartfiles -Wl,-e,_SetupEntry)
  else()
    target_link_options(${name} PRIVATE -nostartfiles -Wl,-e,SetupEntry)
  endif()
  if(QS_STUB_ONLY)
    # the map is what make bench's size table reads
    target_link_options(${name} PRIVATE -flto -flto-partition=one -Os -Wl,-Map,${CMAKE_BINARY_DIR}/${QS_STUB_NAME}.map
                        -Wl,-T,${CMAKE_BINARY_DIR}/stub.ld)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  if(NOT S_LEGACY)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${QS_STUB_NAME})
  endif()
  target_sources(${name} PRIVATE ${CMAKE_BINARY_DIR}/generated/Wizard.dib.z)
  set_source_files_properties(resources/Quillset.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/generated/Quillset.manifest;${CMAKE_BINARY_DIR}/generated/legacy/Quillset.manifest;${CMAKE_SOURCE_DIR}/resources/Quillset.ico;${CMAKE_BINARY_DIR}/generated/Wizard.dib.z;${CMAKE_SOURCE_DIR}/resources/resource.h")
endfunction()

if(QS_STUB_ONLY)
  qs_add_stub(${QS_STUB_NAME})
  qs_add_stub(${QS_STUB_NAME}-legacy LEGACY)
  set_target_properties(${QS_STUB_NAME}-legacy PROPERTIES OUTPUT_NAME ${QS_STUB_NAME}-legacy)
  return()
endif()

# The shipped setup program comes from a sub-tree built with the win32 thread
# model (no winpthread in it); this tree's posix compiler builds the tests.
include(ExternalProject)
ExternalProject_Add(stub_tree
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/stub-tree
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${QS_TOOLCHAIN}
    -DQS_THREAD_MODEL=win32
    -DQS_STUB_ONLY=ON
    -DCMAKE_BUILD_TYPE=MinSizeRel
  BUILD_ALWAYS ON
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different
    ${CMAKE_BINARY_DIR}/stub-tree/${QS_STUB_NAME}.exe ${CMAKE_BINARY_DIR}/${QS_STUB_NAME}.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
    ${CMAKE_BINARY_DIR}/stub-tree/${QS_STUB_NAME}-legacy.exe ${CMAKE_BINARY_DIR}/${QS_STUB_NAME}-legacy.exe
  BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/stub-tree/${QS_STUB_NAME}.exe ${CMAKE_BINARY_DIR}/${QS_STUB_NAME}.exe
    ${CMAKE_BINARY_DIR}/${QS_STUB_NAME}-legacy.exe
)
set(QS_STUB ${CMAKE_BINARY_DIR}/${QS_STUB_NAME}.exe)
set(QS_LEGACY_STUB ${CMAKE_BINARY_DIR}/${QS_STUB_NAME}-legacy.exe)

# The same setup program from this tree's compiler, for comparison only.
qs_add_stub(quillset-stub-posix)
set_target_properties(quillset-stub-posix PROPERTIES OUTPUT_NAME quillset-stub-posix)

add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Every test runs in this tree's own Wine prefix.
set(QS_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tools/wine-run --prefix ${QS_WINEPREFIX} --arch ${QS_WINEARCH})

# Windows spelling of a path in this tree, as the tests see it through Wine's Z: drive.
function(qs_wine_path out unix)
  string(REPLACE "/" "\\\\" p "${unix}")
  set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()

qs_wine_path(QS_BUILD_DIR_WIN ${CMAKE_BINARY_DIR})
qs_wine_path(QS_SOURCE_DIR_WIN ${CMAKE_SOURCE_DIR})
qs_wine_path(QS_STUB_WIN ${QS_STUB})
qs_wine_path(QS_LEGACY_STUB_WIN ${QS_LEGACY_STUB})
configure_file(tests/TestPaths.h.in ${CMAKE_BINARY_DIR}/generated/TestPaths.h @ONLY)

enable_testing()
add_test(NAME wine.session.start COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-session start ${QS_WINEPREFIX} ${QS_WINEARCH})
add_test(NAME wine.session.stop COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-session stop ${QS_WINEPREFIX} ${QS_WINEARCH})
add_test(NAME wine.smalldrive.start COMMAND ${CMAKE_SOURCE_DIR}/tools/small-drive start ${QS_WINEPREFIX})
add_test(NAME wine.smalldrive.stop COMMAND ${CMAKE_SOURCE_DIR}/tools/small-drive stop ${QS_WINEPREFIX})
set_tests_properties(wine.smalldrive.start PROPERTIES FIXTURES_SETUP wine FIXTURES_REQUIRED wineprefix)
set_tests_properties(wine.smalldrive.stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP "wine;wineprefix")
set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine)

# A GoogleTest program that runs under Wine inside the session.
function(qs_add_wine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  target_link_options(${name} PRIVATE ${QS_STATIC_LINK})
  target_include_directories(${name} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  add_dependencies(${name} stub_tree)
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL ON TIMEOUT 600)
endfunction()

# Runs test binary `test` (filtered) once more with Wine's ANSI code page
# `cp`, which Wine takes from the locale: the locale must exist on the host
# (tools/bootstrap.sh makes it).
# The lanes run the legacy program (no UTF-8 entry in its manifest), which
# stands for a Windows that runs it in the ANSI code page.
function(qs_add_code_page_lane name test filter cp locale)
  add_test(NAME ${name} COMMAND ${test} --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL ON TIMEOUT 1200
    ENVIRONMENT "LC_ALL=${locale};QS_CODE_PAGE_LANE=${cp};QS_LEGACY_PROGRAM=1")
endfunction()

# Figures, not tests (make bench).
add_executable(extract_bench EXCLUDE_FROM_ALL bench/ExtractBench.cpp)
target_link_libraries(extract_bench PRIVATE qs_win qs_builder psapi)
target_link_options(extract_bench PRIVATE ${QS_STATIC_LINK})
# make demo's user, walking the wizard with the default answers.
add_executable(demo_walk EXCLUDE_FROM_ALL tools/demo/DemoWalk.cpp tests/win32/Robot.cpp)
target_link_libraries(demo_walk PRIVATE gtest)
target_link_options(demo_walk PRIVATE ${QS_STATIC_LINK})
add_executable(install_bench EXCLUDE_FROM_ALL bench/InstallBench.cpp tests/win32/Robot.cpp)
target_link_libraries(install_bench PRIVATE gtest psapi)
target_link_options(install_bench PRIVATE ${QS_STATIC_LINK})
add_executable(worker_bench EXCLUDE_FROM_ALL bench/WorkerBench.cpp)
target_link_libraries(worker_bench PRIVATE qs_win qs_builder)
target_link_options(worker_bench PRIVATE ${QS_STATIC_LINK})

add_subdirectory(tests/win32)
add_subdirectory(tests/e2e)

# quillset.exe, and the test that it builds what the native command builds.
add_subdirectory(cli)
add_subdirectory(tests/cli)
