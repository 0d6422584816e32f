// Fuzzes the results page builder with arbitrary site pages against the
// steps of the builder made plainly. Built twice, once per variant
// (QUILLMERE_FUZZ_RESULTS_WINDOW selects the results window's).
//
// The input is taken as UTF-8, so that the seed pages (plain ASCII HTML) keep
// their shape while the fuzzer can still reach characters outside Latin-1,
// which matter to the searcher's skip table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "FuzzCheck.h"
#include "results/PageTexts.h"
#include "results/ResultsPage.h"
#include "text/CodePage.h"

using namespace quillmere::results;
using quillmere::fuzz::ReplaceAllReference;

#ifdef QUILLMERE_FUZZ_RESULTS_WINDOW
constexpr Variant kVariant = Variant::ResultsWindow, kOther = Variant::MainWindow;
#else
constexpr Variant kVariant = Variant::MainWindow, kOther = Variant::ResultsWindow;
#endif
// A base URL of the site's usual shape; the passes must not care what it is.
const std::u16string kBase = u"http://127.0.0.1:8642/";

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string source =
      quillmere::text::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const BuiltPage page = BuildResultsPage(source, kBase, kVariant);
  const auto writes = page.Writes();
  FUZZ_CHECK(writes[0] == kPageTemplate, "the page does not begin with the page template");
  std::u16string streamed;
  WriteResultsPage(source, kBase, kVariant, [&](std::u16string_view piece) { streamed += piece; });
  FUZZ_CHECK(streamed == std::u16string(writes[0]) + std::u16string(writes[1]) + std::u16string(writes[2]),
             "the page written in pieces differs from the built page");
  const size_t from = source.find(kResultsMarker);
  FUZZ_CHECK(page.matched == (from != std::u16string::npos), "matched disagrees with the results marker");
  if (!page.matched) {
    FUZZ_CHECK(writes[1] == kNoMatchMessage && writes[2] == kPlainEnding, "no results, but no no-match page");
    return 0;
  }
  FUZZ_CHECK(writes[1] == page.resultsRows && writes[2] == page.pagesRow, "the writes are not the built pieces");

  // The rows: from the marker to the first "</table>" after it (or to the end
  // of the page), with the rewriting passes made one after the other,
  // whatever shortcut the builder takes.
  std::u16string rows = source.substr(from, source.find(kResultsEnd, from) - from);
  const std::u16string download = kBase + u"download.asp?";
  for (const auto& [link, absolute] : {std::pair<std::u16string, std::u16string>{u"download.asp?", download},
                                       {u"search.asp?mode=torrentdetails&", download},
                                       {u"directory.asp?mode=sub&", kBase + u"directory.asp?mode=sub&"},
                                       {u"images/downloadlock.gif", kBase + u"images/downloadlock.gif"}})
    rows = ReplaceAllReference(rows, link, absolute);
  const std::u16string resultsRows = ReplaceAllReference(rows, u"amp;", u"");
  FUZZ_CHECK(page.resultsRows == (kVariant == Variant::MainWindow ? rows : resultsRows),
             "the rows differ from the passes made one after the other");

  // The navigation row is the plain ending or a wrapped "Pages (" cell that
  // holds no "</td>" of the site's own (the first one ends it), the same in
  // both variants.
  if (page.pagesRow != kPlainEnding) {
    const std::u16string_view row = page.pagesRow;
    FUZZ_CHECK(row.starts_with(kRowHead) && row.ends_with(kRowTail), "navigation row without its head or tail");
    const std::u16string_view inner = row.substr(kRowHead.size(), row.size() - kRowHead.size() - kRowTail.size());
    FUZZ_CHECK(inner.starts_with(kPagesMarker), "navigation row does not begin with \"Pages (\"");
    FUZZ_CHECK(inner.find(kPagesEnd) == std::u16string_view::npos, "navigation row runs past its \"</td>\"");
  }
  FUZZ_CHECK(BuildResultsPage(source, kBase, kOther).pagesRow == page.pagesRow, "the variants' navigation rows differ");
  return 0;
}
