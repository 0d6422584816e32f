// The text functions and code pages, their scanning kernels, and the results
// builder on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "results/PageTexts.h"
#include "results/ResultsPage.h"
#include "text/CodePage.h"
#include "text/ReplacePasses.h"
#include "text/ScanDispatch.h"
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

TEST(CanReplaceInOneScan, RefusesPassesWhoseFindTextsCanOverlap) {
  const std::vector<std::vector<Replacement>> refused = {
      {{u"aa", u"x"}},                  // overlaps itself
      {{u"ab", u"x"}, {u"bc", u"y"}},   // one runs into the other
      {{u"abc", u"x"}, {u"b", u"y"}},   // one holds the other
      {{u"ab", u""}, {u"cd", u"y"}},    // a removal before a later pass
      {{u"ab", u"xc"}, {u"cd", u"y"}},  // an insertion that runs into a later find text
  };
  for (const auto& passes : refused) EXPECT_FALSE(CanReplaceInOneScan(passes));
  EXPECT_TRUE(CanReplaceInOneScan(std::vector<Replacement>{{u"ab", u"x"}, {u"cd", u"y"}, {u"ef", u""}}));
  // The results builder's own passes take the one scan, whatever the site's
  // address; the fuzz targets hold its output against the passes in turn.
  for (std::u16string base : {u"http://127.0.0.1:8642/", u"http://idx.test/", u""})
    for (auto variant : {quillmere::results::Variant::MainWindow, quillmere::results::Variant::ResultsWindow})
      EXPECT_TRUE(CanReplaceInOneScan(quillmere::results::LinkPasses(base, variant).Passes()));
}

// Both instruction sets' kernels, where the processor runs them: the program
// picks one at run time, so each must agree with a plain scan on its own.
TEST(ScanKernels, AgreeWithAPlainScanAtEveryOffsetAndLength) {
  namespace scan = quillmere::text::scan;
  std::vector<std::pair<decltype(&scan::generic::FindPattern), decltype(&scan::generic::ForEachKey)>> kernels = {
      {&scan::generic::FindPattern, &scan::generic::ForEachKey}};
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) kernels.emplace_back(&scan::avx2::FindPattern, &scan::avx2::ForEachKey);
#endif
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> letter(0, 7);
  for (const auto& [find, forEachKey] : kernels) {
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
  // Every other character, a lone surrogate among them, has no byte of its own.
  for (unsigned c = 0x100; c <= 0xFFFF; ++c)
    if (std::find(std::begin(kHighHalf), std::end(kHighHalf), c) == std::end(kHighHalf)) {
      ASSERT_EQ(ToCodePage(std::u16string(1, static_cast<char16_t>(c))), "?") << c;
    }
}

TEST(Utf8, RoundTripsAndReplacesMalformedInput) {
  const std::u16string text = u"caf\u00E9 \u20AC \U0001F600";
  EXPECT_EQ(ToUtf8(text), "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(std::u16string{0xDC00, u'a', 0xD800}), "\xEF\xBF\xBD" "a" "\xEF\xBF\xBD");
  EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong NUL
  EXPECT_EQ(ToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  // Cut anywhere into two pieces, a text converts as it does whole.
  const std::u16string lone = u"\U0001F600\xD83Dx\xDC00\U0001F600\xD83D";
  for (size_t cut = 0; cut <= lone.size(); ++cut) {
    std::string out;
    char16_t pending = 0;
    for (std::u16string_view piece : {lone.substr(0, cut), lone.substr(cut)}) AppendAsUtf8(out, piece, pending);
    FinishUtf8(out, pending);
    EXPECT_EQ(out, "\xF0\x9F\x98\x80\xEF\xBF\xBDx\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD") << cut;
  }
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

// The results builder.
namespace {

using namespace quillmere::results;

constexpr std::u16string_view kBase = u"http://idx.test/";
const std::u16string kEnd = u"</table></body></html>";

std::u16string Join(const BuiltPage& page) {
  std::u16string out;
  for (std::u16string_view part : page.Writes()) out += part;
  return out;
}

BuiltPage Main(std::u16string_view source) { return BuildResultsPage(source, kBase, Variant::MainWindow); }

TEST(NoMatch, WrittenByteForByteInBothVariants) {
  const std::u16string expected = std::u16string(kPageTemplate) + u"Your search did not result in any matches." + kEnd;
  for (std::u16string source : {u"", u"<html>nothing here</html>", u"<td>torrent name</td></table>",
                                u"TORRENT NAME Pages ( </td>"}) {
    for (Variant variant : {Variant::MainWindow, Variant::ResultsWindow}) {
      const BuiltPage page = BuildResultsPage(source, kBase, variant);
      EXPECT_FALSE(page.matched);
      EXPECT_EQ(Join(page), expected);
    }
  }
}

TEST(ResultsFragment, RunsFromTheMarkerToTheFirstTableEndAfterIt) {
  const BuiltPage page =
      Main(u"<table>x</table>head<td>Torrent Name</td><tr>Torrent Name again</tr></table>tail</table>");
  ASSERT_TRUE(page.matched);
  // A "</table>" before the marker plays no part, a second marker stays inside.
  EXPECT_EQ(page.resultsRows, u"Torrent Name</td><tr>Torrent Name again</tr>");
  EXPECT_EQ(std::tuple(page.markStart, page.markEnd, page.markLength), std::tuple(25, 69, 44));
  EXPECT_EQ(page.Writes()[0], kPageTemplate);
  EXPECT_EQ(page.Writes()[2], kEnd);
}

TEST(Rewrites, MakeTheSiteLinksAbsoluteInEachVariant) {
  // A fragment placed after the marker, and what it becomes in the main window and in a results window.
  const std::u16string cases[][3] = {
      {u"<a href=\"download.asp?id=1&amp;f=a\">", u"<a href=\"http://idx.test/download.asp?id=1&amp;f=a\">",
       u"<a href=\"http://idx.test/download.asp?id=1&f=a\">"},
      // A details link becomes a download link, prefixed once only.
      {u"<a href=\"search.asp?mode=torrentdetails&amp;id=7\">", u"<a href=\"http://idx.test/download.asp?amp;id=7\">",
       u"<a href=\"http://idx.test/download.asp?id=7\">"},
      {u"<a href=\"directory.asp?mode=sub&amp;cat=3\">",
       u"<a href=\"http://idx.test/directory.asp?mode=sub&amp;cat=3\">",
       u"<a href=\"http://idx.test/directory.asp?mode=sub&cat=3\">"},
      {u"<img src=\"images/downloadlock.gif\">", u"<img src=\"http://idx.test/images/downloadlock.gif\">",
       u"<img src=\"http://idx.test/images/downloadlock.gif\">"},
      // Other search and directory links stay relative.
      {u"search.asp?query=a directory.asp?cat=1", u"search.asp?query=a directory.asp?cat=1",
       u"search.asp?query=a directory.asp?cat=1"},
      // Plain text replacement: wherever it stands, and again on an absolute address.
      {u"see download.asp? and http://idx.test/download.asp?id=2",
       u"see http://idx.test/download.asp? and http://idx.test/http://idx.test/download.asp?id=2",
       u"see http://idx.test/download.asp? and http://idx.test/http://idx.test/download.asp?id=2"},
      {u"Download.asp? IMAGES/downloadlock.gif Directory.asp?mode=sub&",
       u"Download.asp? IMAGES/downloadlock.gif Directory.asp?mode=sub&",
       u"Download.asp? IMAGES/downloadlock.gif Directory.asp?mode=sub&"},
      {u"a&amp;amp;b amp;c &&amp;", u"a&amp;amp;b amp;c &&amp;", u"a&b c &&"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const std::u16string source = u"<p>Torrent Name" + c[0] + u"</table>";
    EXPECT_EQ(Main(source).resultsRows, u"Torrent Name" + c[1]);
    EXPECT_EQ(BuildResultsPage(source, kBase, Variant::ResultsWindow).resultsRows, u"Torrent Name" + c[2]);
    std::u16string streamed;
    WriteResultsPage(source, kBase, Variant::ResultsWindow, [&](std::u16string_view piece) { streamed += piece; });
    EXPECT_EQ(streamed, std::u16string(kPageTemplate) + u"Torrent Name" + c[2] + kEnd);
  }
}

TEST(NavigationRow, CutAfterTheResultsTableAndWrapped) {
  const std::u16string source =
      u"<td>Pages (early)</td><table><td>Torrent Name</td><td>Pages (inside)</td></table>"
      u"<td>Pages (3) <a href=\"search.asp?query=x&amp;page=2\">2</a> <a href=\"directory.asp?\">dir</a> "
      u"download.asp?id=1 amp;</td><td>Pages (late)</td>";
  for (Variant variant : {Variant::MainWindow, Variant::ResultsWindow}) {
    const BuiltPage page = BuildResultsPage(source, kBase, variant);
    ASSERT_TRUE(page.matched);
    // Only search and directory links are rewritten there, in both variants.
    EXPECT_EQ(page.pagesRow,
              u"<tr bgcolor=\"#EAE7E3\"><td align=\"left\" colspan=\"8\">"
              u"Pages (3) <a href=\"http://idx.test/search.asp?query=x&amp;page=2\">2</a> "
              u"<a href=\"http://idx.test/directory.asp?\">dir</a> download.asp?id=1 amp;"
              u"</td></tr></table></body></html>");
    EXPECT_EQ(page.Writes()[2], page.pagesRow);
  }
  // Absent, or only before the table: the plain ending.
  for (std::u16string source : {u"<td>Torrent Name</td></table>no navigation",
                                u"<td>Pages (1)</td><td>Torrent Name</td></table>after"}) {
    const BuiltPage page = Main(source);
    ASSERT_TRUE(page.matched);
    EXPECT_EQ(page.pagesRow, kEnd);
    EXPECT_EQ(Join(page), std::u16string(kPageTemplate) + u"Torrent Name</td>" + kEnd);
  }
}

// A piece whose end is missing runs to the end of the page, and a results
// table that does so leaves no navigation row. NULs pass like any character.
TEST(Builder, APieceWithoutItsEndRunsToTheEndOfThePage) {
  const BuiltPage page = Main(u"<td>Torrent Name</td><tr>row</tr> Pages ( <a>2</a></td>");
  EXPECT_EQ(page.resultsRows, u"Torrent Name</td><tr>row</tr> Pages ( <a>2</a></td>");
  EXPECT_EQ(page.pagesRow, kEnd);
  EXPECT_EQ(Main(u"Torrent Name</table>Pages (2) search.asp?page=2").pagesRow,
            std::u16string(kRowHead) + u"Pages (2) http://idx.test/search.asp?page=2" + std::u16string(kRowTail));
  const std::u16string nul(1, u'\0');
  EXPECT_EQ(Main(nul + u"xTorrent Name caf\u00E9 \u20AC" + nul + u"</table>").resultsRows,
            u"Torrent Name caf\u00E9 \u20AC" + nul);
}

}  // namespace
