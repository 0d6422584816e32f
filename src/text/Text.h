// Text helpers over 16-bit strings. Positions are 1-based and 0 means "not
// found", because every caller in the windows and the results builder works
// with positions in that form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmere::text {

// The position of the first occurrence of `pattern` in `text` at or after the
// 1-based position `start`, case significant; 0 when there is none. A start
// below 1 is taken as 1. An empty pattern is found at `start` itself while
// `start` lies within the text or just past its end.
int32_t Find(int32_t start, std::u16string_view text, std::u16string_view pattern);

// Up to `length` characters of `text` from the 1-based position `start` on.
// A start below 1 is taken as 1 and a negative length as 0.
std::u16string Slice(std::u16string_view text, int32_t start, int32_t length);

// Every occurrence of `find`, taken left to right without overlap in the text
// as it stood before the call, replaced by `replacement`. Inserted text is
// never searched again. An empty `find` leaves the text unchanged. One pass,
// linear in the length of the text.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view find,
                          std::u16string_view replacement);

// The text with its letters turned to lower case (Latin, Greek and Cyrillic
// letters of the Basic Multilingual Plane; everything else is kept).
std::u16string Lower(std::u16string_view text);

// Plain search on 16-bit text, 0-based, std::u16string_view::npos when absent.
// The results builder runs it over pages of many megabytes, so it tests eight
// positions at a time for the pattern's first and last characters together
// and compares in full only where both match.
class Searcher {
 public:
  explicit Searcher(std::u16string_view pattern) : pattern_(pattern) {}
  size_t FindIn(std::u16string_view text, size_t from) const;

 private:
  std::u16string_view pattern_;
};

}  // namespace quillmere::text
