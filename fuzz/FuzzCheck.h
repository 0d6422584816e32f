// What the fuzz targets share: the check that stops a run on a broken
// invariant, and plain reference versions of what they check against.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A broken invariant is a finding just like a crash: the trap makes libFuzzer
// record it as a crash and save the input that caused it.
#define FUZZ_CHECK(cond, what)                                                                    \
  do {                                                                                            \
    if (!(cond)) {                                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, what);           \
      __builtin_trap();                                                                           \
    }                                                                                             \
  } while (0)

namespace quillmere::fuzz {

// ReplaceAll as the shared definition states it, with std::u16string::find:
// left to right over the original only. `inserted` receives where each copy
// of the replacement stands in the result.
inline std::u16string ReplaceAllReference(std::u16string_view text, std::u16string_view find,
                                          std::u16string_view replacement, std::vector<size_t>* inserted = nullptr) {
  if (find.empty()) return std::u16string(text);
  std::u16string out;
  size_t pos = 0;
  for (size_t at = text.find(find); at != std::u16string_view::npos; at = text.find(find, pos)) {
    out.append(text.substr(pos, at - pos));
    if (inserted) inserted->push_back(out.size());
    out.append(replacement);
    pos = at + find.size();
  }
  return out.append(text.substr(pos));
}

}  // namespace quillmere::fuzz
