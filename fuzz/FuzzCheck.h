// Checks for the fuzz targets. A broken invariant is a finding just like a
// crash, so it stops the run through a trap that libFuzzer records as a crash
// and saves the input that caused it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "text/CodePage.h"

#define FUZZ_CHECK(cond, what)                                                  \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, \
                   what);                                                       \
      __builtin_trap();                                                         \
    }                                                                           \
  } while (0)

namespace quillmere::fuzz {

inline bool StartsWith(std::u16string_view text, std::u16string_view head) {
  return text.substr(0, head.size()) == head;
}

inline bool EndsWith(std::u16string_view text, std::u16string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace quillmere::fuzz
