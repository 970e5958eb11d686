# Host tree: the portable core under AddressSanitizer and UBSan, its unit tests.
set(QS_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
# A release tree of the command (make install, make bench) builds without them.
option(QS_SANITIZERS "Build with AddressSanitizer and UBSan" ON)
if(NOT QS_SANITIZERS)
  set(QS_SANITIZE)
endif()
# make fuzz: a clang tree with the core instrumented for libFuzzer, fuzz targets only.
option(QS_LIBFUZZER "Build only the fuzz targets, with libFuzzer (clang)" OFF)
if(QS_LIBFUZZER)
  list(APPEND QS_SANITIZE -fsanitize=fuzzer-no-link)
endif()
add_compile_options(${QS_SANITIZE})
add_link_options(${QS_SANITIZE})

add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(cmake/Sources.cmake)
qs_add_lzma_sdk()
add_library(qs_core STATIC ${QS_CORE_SOURCES})
target_link_libraries(qs_core PRIVATE qs_lzma_decoder)
add_library(qs_builder STATIC ${QS_BUILDER_SOURCES})
target_link_libraries(qs_builder PUBLIC qs_core z PRIVATE qs_lzma_encoder)

enable_testing()
add_subdirectory(tests/fuzz)
if(QS_LIBFUZZER)
  return()
endif()
add_subdirectory(tests/unit)

# The quillset command and its tests.
add_subdirectory(cli)
add_subdirectory(tests/cli)
