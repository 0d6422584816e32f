#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/ScanDispatch.h"

namespace {

using namespace quillmere::text::scan;

// Both instruction sets' kernels, where the processor runs them: the program
// picks one at run time, so each must agree with a plain scan on its own.
auto Kernels() {
  std::vector<std::pair<decltype(&generic::FindPattern), decltype(&generic::ForEachKey)>> kernels = {
      {&generic::FindPattern, &generic::ForEachKey}};
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) kernels.emplace_back(&avx2::FindPattern, &avx2::ForEachKey);
#endif
  return kernels;
}

TEST(ScanKernels, AgreeWithAPlainScanAtEveryOffsetAndLength) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> letter(0, 7);
  for (const auto& [find, forEachKey] : Kernels()) {
    for (size_t size = 0; size < 70; ++size) {
      std::u16string text;
      for (size_t i = 0; i < size; ++i) text += static_cast<char16_t>(u'a' + letter(rng));
      // Characters that differ only in their high byte must not be taken for each
      // other, and a NUL, which ends the key text in memory, is no key.
      if (size > 5) text[size / 2] = u'\u0161', text[size / 3] = u'\0';
      for (std::u16string pattern : {u"a", u"ab", u"dca", u"abcab", u"\u0161", u"b\u0161c"}) {
        for (size_t from = 0; from <= size; from += 3)
          EXPECT_EQ(find(text.data(), text.size(), from, pattern.data(), pattern.size()), text.find(pattern, from));
      }
      // One key, two, and the most that a scan takes, eight.
      for (std::u16string keys : {u"c", u"c\u0161", u"\u0160\u0162bd\u0161fhg"}) {
        std::vector<size_t> seen, expected;
        forEachKey(text.data(), text.size(), keys.data(), keys.size(),
                   [](void* out, size_t at) { static_cast<std::vector<size_t>*>(out)->push_back(at); }, &seen);
        for (size_t i = 0; i < size; ++i)
          if (keys.find(text[i]) != std::u16string::npos) expected.push_back(i);
        EXPECT_EQ(seen, expected) << size << " " << keys.size();
      }
    }
  }
}

}  // namespace
