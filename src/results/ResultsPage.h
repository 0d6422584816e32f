// Turns a page fetched from the index site into the program's results page:
// the results table and the page-navigation cell are cut out, their relative
// links made absolute, and both wrapped in the program's own page template.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/ReplacePasses.h"

namespace quillmere::results {

// The main window keeps the site's "&amp;" references; a results window turns
// them into plain ampersands.
enum class Variant { MainWindow, ResultsWindow };

struct BuiltPage {
  // False when the page holds no results table: the page is the no-match page
  // and the fields below are left at their defaults.
  bool matched = false;
  // Working values that the calling window keeps in its fields.
  int32_t markStart = 0;
  int32_t markEnd = 0;
  int32_t markLength = 0;
  std::u16string resultsRows;
  std::u16string pagesRow;

  // The three texts to write, in order, between the document's Open and Close.
  // They view this object and the fixed texts, so they live as long as it does.
  std::array<std::u16string_view, 3> Writes() const;
};

// The rewriting of the results table's links: ReplaceAll passes, made in
// turn, that give the site's relative links `siteBaseUrl` as their prefix.
// The passes view texts of this object, so it cannot be copied.
class LinkPasses {
 public:
  LinkPasses(std::u16string_view siteBaseUrl, Variant variant);
  LinkPasses(const LinkPasses&) = delete;
  LinkPasses& operator=(const LinkPasses&) = delete;

  std::span<const text::Replacement> Passes() const { return std::span(passes_.data(), count_); }

 private:
  std::u16string download_, category_, lockImage_;
  std::array<text::Replacement, 5> passes_;
  size_t count_;
};

// Pure: the same page source, base URL and variant always give the same page.
// `siteBaseUrl` is the absolute prefix given to the site's relative links.
BuiltPage BuildResultsPage(std::u16string_view pageSource, std::u16string_view siteBaseUrl, Variant variant);

// The same page handed to `write` in pieces, in order, as it is built: the
// results table is rewritten on its way out and never held whole, so that a
// page of many megabytes costs no second copy of itself. Returns the page's
// working values and its navigation row; its results rows stay empty.
BuiltPage WriteResultsPage(std::u16string_view pageSource, std::u16string_view siteBaseUrl, Variant variant,
                           const text::PieceSink& write);

}  // namespace quillmere::results
