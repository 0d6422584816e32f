// A results window: shows one results page written into its view, and opens
// further results windows for the directory and search links clicked in it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "app/Interfaces.h"
#include "results/ResultsPage.h"

namespace quillmere::app {

inline constexpr std::u16string_view kResultsInitialCaption = u"Search Result:";

class SearchForm {
 public:
  SearchForm(WindowParts parts, ResultsWindowFactory& factory, PageFetcher fetcher);
  SearchForm(const SearchForm&) = delete;
  SearchForm& operator=(const SearchForm&) = delete;

  Window& Form() { return *window_; }
  BrowserView& WB2() { return *view_; }

  void Form_Resize();
  void WB2_BeforeNavigate2(const std::u16string& url, bool& cancel);

  // The results window opened last from this one, while it is open.
  std::shared_ptr<SearchForm> ResultsWindow() const { return resultsWindow_.lock(); }
  const std::u16string& PageSource() const { return pageSource_; }

 private:
  void ShowResults();

  std::unique_ptr<Window> window_;
  std::unique_ptr<BrowserView> view_;
  ResultsWindowFactory& factory_;
  PageFetcher fetcher_;

  int32_t markStart_ = 0;
  int32_t markEnd_ = 0;
  int32_t markLength_ = 0;
  // The fetched page is released once the results page is built, and the
  // pieces cut from it (the results rows and the navigation row) once they
  // are written: the view keeps the page, and a page of many megabytes must
  // not be held again by the window logic.
  std::weak_ptr<SearchForm> resultsWindow_;
  std::u16string pageSource_;
  std::u16string contentType_;
};

// Creates a results window for an opener: a new window titled `caption`, its
// view sent to "about:blank", then shown. Returns it, already kept alive by
// the factory.
std::shared_ptr<SearchForm> OpenResultsWindow(ResultsWindowFactory& factory, const std::u16string& caption);

// Frees the memory of `text`, which clearing alone keeps.
void ReleaseText(std::u16string& text);

// Writes the three texts of a built page into `view` as one new document.
void WritePage(BrowserView& view, const std::array<std::u16string_view, 3>& texts);

// Fetches `url` again for `target`, as its opener did, and writes the page
// built in the opener's `variant` when the fetch returns one.
void FetchAgain(SearchForm& target, const PageFetcher& fetcher, const std::u16string& url, results::Variant variant);

}  // namespace quillmere::app
