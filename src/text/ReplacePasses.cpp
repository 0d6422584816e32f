#include "text/ReplacePasses.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/Text.h"

namespace quillmere::text {
namespace {

bool Contains(std::u16string_view haystack, std::u16string_view needle) {
  return haystack.find(needle) != std::u16string_view::npos;
}

// A proper, non-empty suffix of `a` that is also a prefix of `b`.
bool SuffixIsPrefix(std::u16string_view a, std::u16string_view b) {
  for (size_t n = 1; n < a.size() && n <= b.size(); ++n)
    if (a.substr(a.size() - n) == b.substr(0, n)) return true;
  return false;
}

// Two placements of the find texts can share characters.
bool CanOverlap(std::u16string_view a, std::u16string_view b) {
  return Contains(a, b) || Contains(b, a) || SuffixIsPrefix(a, b) || SuffixIsPrefix(b, a);
}

bool HasBorder(std::u16string_view s) { return SuffixIsPrefix(s, s); }

// A new occurrence of `later` after `earlier` has been inserted: inside the
// insertion, across either of its edges, or around it.
bool CanForm(std::u16string_view inserted, std::u16string_view later) {
  return Contains(inserted, later) || Contains(later, inserted) || SuffixIsPrefix(inserted, later) ||
         SuffixIsPrefix(later, inserted);
}

std::u16string InTurn(std::u16string_view text, std::span<const Replacement> passes) {
  std::u16string current(text);
  for (const Replacement& pass : passes) current = ReplaceAll(current, pass.find, pass.replacement);
  return current;
}

constexpr size_t kMaxPasses = 8;

// How common a character is in HTML, lowest for the rarest: punctuation that
// pages seldom use, then capitals, then small letters from the rarest to the
// commonest, digits, and last what every tag is made of.
int Commonness(char16_t c) {
  static constexpr std::u16string_view kOrder =
      u"?;|^~`!$%@*+{}[]\\()#&ZQXJKVBPYGFWMUCLDRHSNIOATEzqxjkvbpygfwmucldrhsnioate0123456789,_-.:'\"=/<> ";
  const size_t at = kOrder.find(c);
  if (at != std::u16string_view::npos) return static_cast<int>(at);
  // Other control characters and non-ASCII text are rare in markup.
  return c < 0x80 ? static_cast<int>(kOrder.size()) : 0;
}

// A character of each find text to scan for, chosen to be rare in pages, and
// its offset in the find text.
struct Key {
  char16_t c;
  size_t offset;
};

Key ChooseKey(std::u16string_view find) {
  Key key{find[0], 0};
  for (size_t i = 1; i < find.size(); ++i)
    if (Commonness(find[i]) < Commonness(key.c)) key = {find[i], i};
  return key;
}

// Makes every pass in one scan. Eight positions at a time are tested for the
// key characters of all find texts; only where one stands is a find text
// compared in full. Find texts cannot overlap (CanReplaceInOneScan), so the
// matches, written out by increasing start, give what the passes in turn give.
std::u16string InOneScan(std::u16string_view text, std::span<const Replacement> passes) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 4);

  std::array<Key, kMaxPasses> keys{};
  std::array<char16_t, kMaxPasses> distinct{};
  size_t distinctCount = 0;
  size_t maxOffset = 0;
  for (size_t k = 0; k < passes.size(); ++k) {
    keys[k] = ChooseKey(passes[k].find);
    maxOffset = std::max(maxOffset, keys[k].offset);
    if (std::find(distinct.begin(), distinct.begin() + distinctCount, keys[k].c) == distinct.begin() + distinctCount)
      distinct[distinctCount++] = keys[k].c;
  }

  struct Match {
    size_t start;
    size_t pass;
  };
  // A match is found at its key, which may lie up to maxOffset characters
  // into it, so matches wait here until the scan has passed every position
  // that could reveal one starting earlier.
  std::vector<Match> pending;
  size_t copied = 0;  // text before this has been written out
  auto emitUpTo = [&](size_t scanned) {
    size_t n = 0;
    for (; n < pending.size() && pending[n].start + maxOffset < scanned; ++n) {
      const Match& m = pending[n];
      out.append(text.data() + copied, m.start - copied);
      out.append(passes[m.pass].replacement);
      copied = m.start + passes[m.pass].find.size();
    }
    if (n > 0) pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
  };
  auto checkKeyAt = [&](size_t i) {
    for (size_t k = 0; k < passes.size(); ++k) {
      if (keys[k].c != text[i] || i < keys[k].offset) continue;
      const size_t start = i - keys[k].offset;
      const std::u16string_view find = passes[k].find;
      if (start + find.size() > text.size() || text[start] != find[0] ||
          std::memcmp(text.data() + start, find.data(), find.size() * sizeof(char16_t)) != 0)
        continue;
      // Keep the few waiting matches ordered by start.
      auto at = pending.end();
      while (at != pending.begin() && (at - 1)->start > start) --at;
      pending.insert(at, {start, k});
    }
  };

  size_t pos = 0;
#if defined(__SSE2__)
  // Up to four key characters are tested without a loop; unused slots repeat
  // the first key, which changes nothing.
  __m128i wanted[kMaxPasses];
  for (size_t k = 0; k < kMaxPasses; ++k)
    wanted[k] = _mm_set1_epi16(static_cast<short>(distinct[k < distinctCount ? k : 0]));
  const char16_t* data = text.data();
  while (pos + 8 <= text.size()) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + pos));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(block, wanted[0]), _mm_cmpeq_epi16(block, wanted[1])),
                               _mm_or_si128(_mm_cmpeq_epi16(block, wanted[2]), _mm_cmpeq_epi16(block, wanted[3])));
    for (size_t k = 4; k < distinctCount; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi16(block, wanted[k]));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)) & 0x5555u;
    while (mask != 0) {
      checkKeyAt(pos + static_cast<size_t>(__builtin_ctz(mask)) / 2);
      mask &= mask - 1;
    }
    pos += 8;
    if (!pending.empty()) emitUpTo(pos);
  }
#endif
  for (; pos < text.size(); ++pos) {
    checkKeyAt(pos);
    emitUpTo(pos + 1);
  }
  emitUpTo(std::numeric_limits<size_t>::max() - maxOffset);
  out.append(text.data() + copied, text.size() - copied);
  return out;
}

}  // namespace

bool CanReplaceInOneScan(std::span<const Replacement> passes) {
  if (passes.size() > kMaxPasses) return false;
  for (size_t i = 0; i < passes.size(); ++i) {
    const Replacement& p = passes[i];
    if (p.find.empty() || HasBorder(p.find)) return false;
    // Removing text joins its neighbours, which any later pass might match.
    if (p.replacement.empty() && i + 1 != passes.size()) return false;
    for (size_t j = i + 1; j < passes.size(); ++j) {
      if (CanOverlap(p.find, passes[j].find)) return false;
      if (CanForm(p.replacement, passes[j].find)) return false;
    }
  }
  return true;
}

std::u16string ReplaceInTurn(std::u16string_view text, std::span<const Replacement> passes) {
  if (passes.empty()) return std::u16string(text);
  return CanReplaceInOneScan(passes) ? InOneScan(text, passes) : InTurn(text, passes);
}

}  // namespace quillmere::text
