#include <gtest/gtest.h>

#include <string>

#include "text/CodePage.h"
#include "text/Text.h"

namespace {

using namespace quillmere::text;

std::string Narrow(std::u16string_view text) { return ToUtf8(text); }

TEST(Find, GivesOneBasedPositionOrZero) {
  struct Case {
    int32_t start;
    std::u16string text;
    std::u16string pattern;
    int32_t expected;
  };
  const Case cases[] = {
      {1, u"abcabc", u"abc", 1}, {2, u"abcabc", u"abc", 4}, {4, u"abcabc", u"abc", 4}, {5, u"abcabc", u"abc", 0},
      {1, u"abc", u"ABC", 0},                                  // case significant
      {1, u"ab", u"abc", 0},                                   // pattern longer than text
      {99, u"abc", u"c", 0},                                   // start past the end
      {1, u"xxxxTorrent Name", u"Torrent Name", 5},
      {1, std::u16string(u"a\0b", 3), std::u16string(u"\0", 1), 2},
      {1, u"\u0141x\u0241y", u"\u0241y", 3},                 // same low byte, other character
  };
  for (const Case& c : cases) EXPECT_EQ(Find(c.start, c.text, c.pattern), c.expected) << Narrow(c.text);
}

TEST(Slice, TakesFromOneBasedStartAndStopsAtTheEnd) {
  EXPECT_EQ(Slice(u"abcdef", 2, 3), u"bcd");
  EXPECT_EQ(Slice(u"abcdef", 5, 10), u"ef");
  EXPECT_EQ(Slice(u"abcdef", 7, 1), u"");
  EXPECT_EQ(Slice(u"abcdef", 1, 0), u"");
  EXPECT_EQ(Slice(u"abcdef", 3, -4), u"");
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutOverlap) {
  EXPECT_EQ(ReplaceAll(u"aaaa", u"aa", u"b"), u"bb");
  EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"b"), u"ba");
  EXPECT_EQ(ReplaceAll(u"x.asp?y.asp?", u".asp?", u"!"), u"x!y!");
  EXPECT_EQ(ReplaceAll(u"Download.asp?", u"download.asp?", u"X"), u"Download.asp?");
  EXPECT_EQ(ReplaceAll(u"abc", u"", u"X"), u"abc");
  EXPECT_EQ(ReplaceAll(u"", u"a", u"X"), u"");
  EXPECT_EQ(ReplaceAll(u"&amp;amp;", u"amp;", u""), u"&");
}

TEST(ReplaceAll, NeverSearchesTheTextItInserts) {
  // The replacement holds the find text; a rescan would loop or double it.
  EXPECT_EQ(ReplaceAll(u"d.asp? d.asp?", u"d.asp?", u"http://h/d.asp?"), u"http://h/d.asp? http://h/d.asp?");
  // A match that only appears once the replacement is joined to what follows
  // must not be replaced either.
  EXPECT_EQ(ReplaceAll(u"xab", u"xa", u"x"), u"xb");
  EXPECT_EQ(ReplaceAll(u"aab", u"ab", u"a"), u"aa");
}

TEST(Lower, LowersLettersAndKeepsTheRest) {
  EXPECT_EQ(Lower(u"JavaScript:Void(0) 123 & ?"), u"javascript:void(0) 123 & ?");
  EXPECT_EQ(Lower(u"\u00C9T\u00C9 \u00D7 \u0152 \u0410\u0401 \u03A3"), u"\u00E9t\u00E9 \u00D7 \u0153 \u0430\u0451 \u03C3");
}

TEST(CodePage, DecodesEveryByteToOneCharacter) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string text = FromCodePage(all);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(text[0x00], u'\0');
  EXPECT_EQ(text[0x41], u'A');
  EXPECT_EQ(text[0x80], u'\u20AC');
  EXPECT_EQ(text[0x96], u'\u2013');
  EXPECT_EQ(text[0x9F], u'\u0178');
  EXPECT_EQ(text[0xE9], u'\u00E9');
  EXPECT_EQ(text[0xFC], u'\u00FC');
  for (int undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(text[undefined], char16_t(undefined));
  // Every byte survives the trip back.
  EXPECT_EQ(ToCodePage(text), all);
}

TEST(CodePage, EncodesWhatItCannotHoldAsQuestionMark) {
  EXPECT_EQ(ToCodePage(u"caf\u00E9 \u20AC5"), "caf\xE9 \x80" "5");
  EXPECT_EQ(ToCodePage(u"\u4E2D|\u0101|\U0001F600"), "?|?|?");
}

TEST(Utf8, RoundTripsAndReplacesMalformedInput) {
  const std::u16string text = u"caf\u00E9 \u20AC \U0001F600";
  EXPECT_EQ(ToUtf8(text), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(FromUtf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
  EXPECT_EQ(ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
