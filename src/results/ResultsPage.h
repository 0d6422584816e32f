// Turns a page fetched from the index site into the program's results page:
// the results table and the page-navigation cell are cut out, their relative
// links made absolute, and both wrapped in the program's own page template.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

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

// Pure: the same page source, base URL and variant always give the same page.
// `siteBaseUrl` is the absolute prefix given to the site's relative links.
BuiltPage BuildResultsPage(std::u16string_view pageSource, std::u16string_view siteBaseUrl, Variant variant);

}  // namespace quillmere::results
