// Fuzzes the results page builder with arbitrary site pages. Built twice, once
// per variant (QUILLMERE_FUZZ_RESULTS_WINDOW selects the results window's).
//
// The input is taken as UTF-8, so that the seed pages (plain ASCII HTML) keep
// their shape while the fuzzer can still reach characters outside Latin-1,
// which matter to the searcher's skip table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "results/PageTexts.h"
#include "results/ResultsPage.h"
#include "text/Text.h"

namespace {

using namespace quillmere::results;
using quillmere::fuzz::EndsWith;
using quillmere::fuzz::StartsWith;
using quillmere::text::Find;
using quillmere::text::ReplaceAll;

#ifdef QUILLMERE_FUZZ_RESULTS_WINDOW
constexpr Variant kVariant = Variant::ResultsWindow;
constexpr Variant kOther = Variant::MainWindow;
#else
constexpr Variant kVariant = Variant::MainWindow;
constexpr Variant kOther = Variant::ResultsWindow;
#endif

// A base URL of the site's usual shape; the passes must not care what it is.
constexpr std::u16string_view kBase = u"http://127.0.0.1:8642/";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string source =
      quillmere::text::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

  const BuiltPage page = BuildResultsPage(source, kBase, kVariant);
  const auto writes = page.Writes();

  // Every page, results or no-match, begins with the template.
  FUZZ_CHECK(writes[0] == kPageTemplate, "the page does not begin with the page template");

  const bool hasMarker = Find(1, source, kResultsMarker) != 0;
  FUZZ_CHECK(page.matched == hasMarker, "matched disagrees with the presence of the results marker");
  if (!hasMarker) {
    FUZZ_CHECK(writes[1] == kNoMatchMessage && writes[2] == kPlainEnding, "a page without results is not the no-match page");
    return 0;
  }

  FUZZ_CHECK(StartsWith(page.resultsRows, kResultsMarker), "ResultsRows does not begin with the results marker");
  FUZZ_CHECK(writes[1] == page.resultsRows && writes[2] == page.pagesRow, "the writes are not the built pieces");
  FUZZ_CHECK(page.markLength >= 0, "negative slice length");

  // ResultsRows is the slice from the marker to the first "</table>" after it
  // (or to the end of the page), with the rewriting passes made one after the
  // other with plain ReplaceAll, whatever shortcut the builder takes.
  {
    const int32_t from = Find(1, source, kResultsMarker);
    const int32_t end = Find(from, source, kResultsEnd);
    std::u16string rows = quillmere::text::Slice(source, from, (end != 0 ? end : int32_t(source.size()) + 1) - from);
    const std::u16string download = std::u16string(kBase) + u"download.asp?";
    rows = ReplaceAll(rows, u"download.asp?", download);
    rows = ReplaceAll(rows, u"search.asp?mode=torrentdetails&", download);
    rows = ReplaceAll(rows, u"directory.asp?mode=sub&", std::u16string(kBase) + u"directory.asp?mode=sub&");
    rows = ReplaceAll(rows, u"images/downloadlock.gif", std::u16string(kBase) + u"images/downloadlock.gif");
    if (kVariant == Variant::ResultsWindow) rows = ReplaceAll(rows, u"amp;", u"");
    FUZZ_CHECK(page.resultsRows == rows, "ResultsRows differs from the passes made one after the other");
  }

  // The navigation row is either the plain ending or a wrapped "Pages (" cell
  // that holds no "</td>" of the site's own (the first one ends it).
  if (page.pagesRow != kPlainEnding) {
    FUZZ_CHECK(StartsWith(page.pagesRow, kRowHead), "navigation row without its head");
    FUZZ_CHECK(EndsWith(page.pagesRow, kRowTail), "navigation row without its tail");
    const std::u16string_view inner(page.pagesRow.data() + kRowHead.size(),
                                    page.pagesRow.size() - kRowHead.size() - kRowTail.size());
    FUZZ_CHECK(StartsWith(inner, kPagesMarker), "navigation row does not begin with \"Pages (\"");
    FUZZ_CHECK(Find(1, inner, kPagesEnd) == 0, "navigation row runs past its \"</td>\"");
  }

  // The variants differ only in the "amp;" pass, which comes last.
  const BuiltPage other = BuildResultsPage(source, kBase, kOther);
  const BuiltPage& main = kVariant == Variant::MainWindow ? page : other;
  const BuiltPage& results = kVariant == Variant::MainWindow ? other : page;
  // The fragment ends before the first "</table>" after the marker, and no
  // prefix that the passes insert can form one.
  FUZZ_CHECK(Find(1, main.resultsRows, kResultsEnd) == 0, "ResultsRows runs past the end of the results table");
  FUZZ_CHECK(main.pagesRow == results.pagesRow, "the variants disagree on the navigation row");
  FUZZ_CHECK(ReplaceAll(main.resultsRows, u"amp;", u"") == results.resultsRows,
             "the variants differ by more than the \"amp;\" pass");
  return 0;
}
