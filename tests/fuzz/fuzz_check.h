// SPDX-License-Identifier: Apache-2.0
// FUZZ_CHECK: a broken promise of the code under test. It ends the process with abort(), which
// libFuzzer saves as a crash and CTest reports as a failed replay, after one line saying what
// and where.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                              \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "fuzz check failed at %s:%d: %s: ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                        \
      std::fputc('\n', stderr);                                                                 \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)
