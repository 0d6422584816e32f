#include "results/ResultsPage.h"

#include "results/PageTexts.h"
#include "text/ReplacePasses.h"
#include "text/Text.h"

namespace quillmere::results {
namespace {

using text::Find;
using text::ReplaceAll;
using text::Slice;

std::u16string Prefixed(std::u16string_view base, std::u16string_view link) {
  std::u16string out(base);
  out += link;
  return out;
}

// Where an end marker is missing, the slice runs to the end of the page.
int32_t EndOrPageEnd(int32_t found, std::u16string_view page) {
  return found != 0 ? found : static_cast<int32_t>(page.size()) + 1;
}

constexpr std::u16string_view kDownload = u"download.asp?";
constexpr std::u16string_view kDetails = u"search.asp?mode=torrentdetails&";
constexpr std::u16string_view kCategory = u"directory.asp?mode=sub&";
constexpr std::u16string_view kLockImage = u"images/downloadlock.gif";

}  // namespace

// The details link becomes a download link. Running after the download pass,
// its new addresses are prefixed once only. Only a results window turns
// "&amp;" into "&", in the last pass.
LinkPasses::LinkPasses(std::u16string_view siteBaseUrl, Variant variant)
    : download_(Prefixed(siteBaseUrl, kDownload)),
      category_(Prefixed(siteBaseUrl, kCategory)),
      lockImage_(Prefixed(siteBaseUrl, kLockImage)),
      passes_{{{kDownload, download_},
               {kDetails, download_},
               {kCategory, category_},
               {kLockImage, lockImage_},
               {u"amp;", u""}}},
      count_(variant == Variant::ResultsWindow ? 5 : 4) {}

std::array<std::u16string_view, 3> BuiltPage::Writes() const {
  if (!matched) return {kPageTemplate, kNoMatchMessage, kPlainEnding};
  return {kPageTemplate, resultsRows, pagesRow};
}

namespace {

// Finds the pieces of `pageSource` for `page`: whether it matched, the
// working values and the navigation row. Returns the results table, still to
// be rewritten.
std::u16string_view CutPage(std::u16string_view pageSource, std::u16string_view siteBaseUrl, BuiltPage& page) {
  page.markStart = Find(1, pageSource, kResultsMarker);
  if (page.markStart == 0) return {};
  page.matched = true;

  const int32_t tableEnd = Find(page.markStart, pageSource, kResultsEnd);
  page.markEnd = EndOrPageEnd(tableEnd, pageSource);
  page.markLength = page.markEnd - page.markStart;
  const std::u16string_view rows =
      pageSource.substr(static_cast<size_t>(page.markStart - 1), static_cast<size_t>(page.markLength));

  // The navigation row is looked for from the end of the results table on: a
  // "Pages (" that stands only before it, or a results table that runs to
  // the end of the page, leaves no navigation row.
  const int32_t pagesAt = tableEnd != 0 ? Find(tableEnd, pageSource, kPagesMarker) : 0;
  if (pagesAt == 0) {
    page.pagesRow = std::u16string(kPlainEnding);
  } else {
    page.markStart = pagesAt;
    page.markEnd = EndOrPageEnd(Find(pagesAt, pageSource, kPagesEnd), pageSource);
    page.markLength = page.markEnd - page.markStart;
    std::u16string row = Slice(pageSource, page.markStart, page.markLength);
    row = ReplaceAll(row, u"search.asp?", Prefixed(siteBaseUrl, u"search.asp?"));
    row = ReplaceAll(row, u"directory.asp?", Prefixed(siteBaseUrl, u"directory.asp?"));
    std::u16string wrapped;
    wrapped.reserve(kRowHead.size() + row.size() + kRowTail.size());
    wrapped += kRowHead;
    wrapped += row;
    wrapped += kRowTail;
    page.pagesRow = std::move(wrapped);
  }
  return rows;
}

}  // namespace

BuiltPage BuildResultsPage(std::u16string_view pageSource, std::u16string_view siteBaseUrl, Variant variant) {
  BuiltPage page;
  const std::u16string_view rows = CutPage(pageSource, siteBaseUrl, page);
  if (page.matched) page.resultsRows = text::ReplaceInTurn(rows, LinkPasses(siteBaseUrl, variant).Passes());
  return page;
}

BuiltPage WriteResultsPage(std::u16string_view pageSource, std::u16string_view siteBaseUrl, Variant variant,
                           const text::PieceSink& write) {
  BuiltPage page;
  const std::u16string_view rows = CutPage(pageSource, siteBaseUrl, page);
  const auto writes = page.Writes();
  write(writes[0]);
  if (page.matched) {
    text::ReplaceInTurn(rows, LinkPasses(siteBaseUrl, variant).Passes(), write);
  } else {
    write(writes[1]);
  }
  write(writes[2]);
  return page;
}

}  // namespace quillmere::results
