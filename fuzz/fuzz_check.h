// What a fuzz target does when a property fails: say which, and abort, so
// that libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                          \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s: ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                    \
      std::fputc('\n', stderr);                                                             \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
