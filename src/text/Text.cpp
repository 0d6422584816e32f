#include "text/Text.h"

#include <algorithm>
#include <cstring>

#include "text/Scan.h"

namespace quillmere::text {

size_t Searcher::FindIn(std::u16string_view text, size_t from) const {
  if (from > text.size()) return std::u16string_view::npos;
  if (pattern_.empty()) return from;
  return scan::FindPattern(text, from, pattern_);
}

int32_t Find(int32_t start, std::u16string_view text, std::u16string_view pattern) {
  const size_t from = static_cast<size_t>(start < 1 ? 0 : start - 1);
  const size_t at = Searcher(pattern).FindIn(text, from);
  return at == std::u16string_view::npos ? 0 : static_cast<int32_t>(at + 1);
}

std::u16string Slice(std::u16string_view text, int32_t start, int32_t length) {
  const size_t from = static_cast<size_t>(start < 1 ? 0 : start - 1);
  if (from >= text.size() || length <= 0) return {};
  return std::u16string(text.substr(from, static_cast<size_t>(length)));
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view find,
                          std::u16string_view replacement) {
  if (find.empty()) return std::u16string(text);
  const Searcher searcher(find);
  size_t at = searcher.FindIn(text, 0);
  if (at == std::u16string_view::npos) return std::u16string(text);

  // Count first so that the result is allocated once; both scans are linear.
  size_t count = 0;
  for (size_t p = at; p != std::u16string_view::npos; p = searcher.FindIn(text, p + find.size())) ++count;
  std::u16string out;
  out.resize(text.size() - count * find.size() + count * replacement.size());
  char16_t* dst = out.data();
  size_t copied = 0;
  for (size_t p = at; p != std::u16string_view::npos; p = searcher.FindIn(text, p + find.size())) {
    std::memcpy(dst, text.data() + copied, (p - copied) * sizeof(char16_t));
    dst += p - copied;
    std::memcpy(dst, replacement.data(), replacement.size() * sizeof(char16_t));
    dst += replacement.size();
    copied = p + find.size();
  }
  std::memcpy(dst, text.data() + copied, (text.size() - copied) * sizeof(char16_t));
  return out;
}

namespace {

char16_t LowerChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  // Latin-1: À..Þ except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  // Latin Extended-A pairs capital/small at even/odd code points, with the
  // run 0x139..0x148 and 0x179..0x17E paired the other way round.
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    if (c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  }
  // Greek capitals (no capital at 0x3A2).
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 32);
  // Cyrillic.
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  return c;
}

}  // namespace

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = LowerChar(c);
  return out;
}

}  // namespace quillmere::text
