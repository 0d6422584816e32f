#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/ScanDispatch.h"

namespace {

using namespace quillmere::text::scan;

using FindFn = size_t (*)(const char16_t*, size_t, size_t, const char16_t*, size_t);
using KeysFn = void (*)(const char16_t*, size_t, const char16_t*, size_t, void (*)(void*, size_t), void*);

// Both instruction sets' kernels, where the processor runs them: the program
// picks one at run time, so each must agree with a plain scan on its own.
std::vector<std::pair<FindFn, KeysFn>> Kernels() {
  std::vector<std::pair<FindFn, KeysFn>> kernels = {{&generic::FindPattern, &generic::ForEachKey}};
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) kernels.emplace_back(&avx2::FindPattern, &avx2::ForEachKey);
#endif
  return kernels;
}

TEST(ScanKernels, AgreeWithAPlainScanAtEveryOffsetAndLength) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> letter(0, 3);
  for (const auto& [find, forEachKey] : Kernels()) {
    for (size_t size = 0; size < 70; ++size) {
      std::u16string text;
      for (size_t i = 0; i < size; ++i) text += static_cast<char16_t>(u'a' + letter(rng));
      // Characters that differ only in their high byte must not be taken for each other.
      if (size > 5) text[size / 2] = u'\u0161';
      for (std::u16string pattern : {u"a", u"ab", u"dca", u"abcab", u"\u0161", u"b\u0161c"}) {
        for (size_t from = 0; from <= size; from += 3) {
          EXPECT_EQ(find(text.data(), text.size(), from, pattern.data(), pattern.size()), text.find(pattern, from));
        }
      }
      std::vector<size_t> seen;
      const std::u16string keys = u"c\u0161";
      forEachKey(text.data(), text.size(), keys.data(), keys.size(),
                 [](void* out, size_t at) { static_cast<std::vector<size_t>*>(out)->push_back(at); }, &seen);
      std::vector<size_t> expected;
      for (size_t i = 0; i < size; ++i)
        if (keys.find(text[i]) != std::u16string::npos) expected.push_back(i);
      EXPECT_EQ(seen, expected) << size;
    }
  }
}

}  // namespace
