#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "results/PageTexts.h"
#include "results/ResultsPage.h"

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
