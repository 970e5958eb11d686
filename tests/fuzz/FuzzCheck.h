// Shared by the fuzz targets: a check that stops the run on a broken
// promise, so the fuzzer keeps the input that broke it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                           \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
      abort();                                                                          \
    }                                                                                   \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
