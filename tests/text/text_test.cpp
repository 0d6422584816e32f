#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "text/CodePage.h"
#include "text/Text.h"

namespace {

using namespace quillmere::text;

TEST(Find, GivesOneBasedPositionOrZero) {
  const struct {
    int32_t start;
    std::u16string text, pattern;
    int32_t expected;
  } cases[] = {
      {1, u"abcabc", u"abc", 1}, {2, u"abcabc", u"abc", 4}, {4, u"abcabc", u"abc", 4}, {5, u"abcabc", u"abc", 0},
      {1, u"abc", u"ABC", 0},  // case significant
      {1, u"ab", u"abc", 0}, {99, u"abc", u"c", 0}, {3, u"abc", u"c", 3}, {4, u"abc", u"", 4},
      {1, u"xxxxTorrent Name", u"Torrent Name", 5},
      {1, std::u16string(u"a\0b", 3), std::u16string(u"\0", 1), 2},
      {1, u"\u0141x\u0241y", u"\u0241y", 3},  // same low byte, other character
  };
  for (const auto& c : cases) EXPECT_EQ(Find(c.start, c.text, c.pattern), c.expected) << ToUtf8(c.text) << c.start;
}

TEST(Slice, TakesFromOneBasedStartAndStopsAtTheEnd) {
  const std::tuple<int32_t, int32_t, std::u16string> cases[] = {
      {2, 3, u"bcd"}, {5, 10, u"ef"}, {6, 1, u"f"}, {7, 1, u""}, {1, 0, u""}, {3, -4, u""}};
  for (const auto& [start, length, expected] : cases) EXPECT_EQ(Slice(u"abcdef", start, length), expected) << start;
}

// Left to right without overlap, and the inserted text is never searched again.
TEST(ReplaceAll, ReplacesEachOccurrenceOfTheOriginalOnce) {
  const std::u16string cases[][4] = {
      {u"aaaa", u"aa", u"b", u"bb"}, {u"aaa", u"aa", u"b", u"ba"}, {u"x.asp?y.asp?", u".asp?", u"!", u"x!y!"},
      {u"Download.asp?", u"download.asp?", u"X", u"Download.asp?"}, {u"abc", u"", u"X", u"abc"}, {u"", u"a", u"X", u""},
      {u"&amp;amp;", u"amp;", u"", u"&"},
      {u"d.asp? d.asp?", u"d.asp?", u"http://h/d.asp?", u"http://h/d.asp? http://h/d.asp?"},
      // A match that only appears once the replacement is joined to what follows.
      {u"xab", u"xa", u"x", u"xb"}, {u"aab", u"ab", u"a", u"aa"}};
  for (const auto& c : cases) EXPECT_EQ(ReplaceAll(c[0], c[1], c[2]), c[3]) << ToUtf8(c[0]);
}

TEST(Lower, LowersLettersAndKeepsTheRest) {
  EXPECT_EQ(Lower(u"JavaScript:Void(0) 123 & ?@[`{"), u"javascript:void(0) 123 & ?@[`{");
  EXPECT_EQ(Lower(u"\u00C0\u00C9\u00DE\u00D7\u00DF \u0152\u0178\u0130\u0100\u0139\u0179"),
            u"\u00E0\u00E9\u00FE\u00D7\u00DF \u0153\u00FFi\u0101\u013A\u017A");
  EXPECT_EQ(Lower(u"\u0410\u042F\u0400\u0401 \u0391\u03A9\u03A2"), u"\u0430\u044F\u0450\u0451 \u03B1\u03C9\u03A2");
}

// windows-1252 at 0x80..0x9F as the code page is published; the five bytes
// that it leaves undefined stand for the control characters of their value.
constexpr char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

TEST(CodePage, MapsEveryByteToItsCharacterAndBack) {
  std::string bytes;
  std::u16string text;
  // Twice over, so that the bytes fall at every place of a sixteen-byte block.
  for (int b = 0; b < 512 + 7; ++b) {
    bytes.push_back(static_cast<char>(b % 256));
    text.push_back(b % 256 >= 0x80 && b % 256 < 0xA0 ? kHighHalf[b % 256 - 0x80] : char16_t(b % 256));
  }
  EXPECT_EQ(FromCodePage(bytes), text);
  EXPECT_EQ(ToCodePage(text), bytes);
  EXPECT_EQ(ToCodePage(u"\u4E2D|\u0101|\U0001F600|\u00A0"), "?|?|?|\xA0");
}

TEST(Utf8, RoundTripsAndReplacesMalformedInput) {
  const std::u16string text = u"caf\u00E9 \u20AC \U0001F600";
  EXPECT_EQ(ToUtf8(text), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
  EXPECT_EQ(ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  // A text that ends inside a sequence, with the rest of the sequence after
  // it, or (under AddressSanitizer) nothing readable after it.
  for (const std::string whole : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    const std::vector<char> cut(whole.begin(), whole.end() - 1);
    const std::u16string replaced(cut.size(), u'\uFFFD');
    EXPECT_EQ(FromUtf8(std::string_view(whole).substr(0, cut.size())), replaced);
    EXPECT_EQ(FromUtf8(std::string_view(cut.data(), cut.size())), replaced);
  }
}

}  // namespace
