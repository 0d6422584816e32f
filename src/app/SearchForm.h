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

  // The address this window's page is fetched from, and how it is built: the
  // opener's variant, so that fetching it again gives the page the opener wrote.
  void SetSource(std::u16string url, results::Variant variant);
  // Fetches this window's address again with `fetcher` and writes the new
  // page into this window's own view: Reload, and Try Again after a failed
  // fetch. Returns false, and leaves the page shown as it is, when the window
  // has no address or the fetch failed.
  bool Reload(const PageFetcher& fetcher);

 private:
  void ShowResults();

  std::unique_ptr<Window> window_;
  std::unique_ptr<BrowserView> view_;
  ResultsWindowFactory& factory_;
  PageFetcher fetcher_;

  int32_t markStart_ = 0;
  int32_t markEnd_ = 0;
  int32_t markLength_ = 0;
  // The fetched page is released once its results page is written into the
  // view: the view keeps the page, and a page of many megabytes must not be
  // held again by the window logic.
  std::weak_ptr<SearchForm> resultsWindow_;
  std::u16string pageSource_;
  std::u16string contentType_;
  std::u16string sourceUrl_;
  results::Variant sourceVariant_ = results::Variant::ResultsWindow;
  std::u16string sourceBase_;
};

// Creates a results window for an opener: a new window titled `caption`, its
// view sent to "about:blank", then shown. Returns it, already kept alive by
// the factory. `url` is the address the opener fetches for it, built in the
// opener's `variant`.
std::shared_ptr<SearchForm> OpenResultsWindow(ResultsWindowFactory& factory, const std::u16string& caption,
                                              const std::u16string& url, results::Variant variant);

// Frees the memory of `text`, which clearing alone keeps.
void ReleaseText(std::u16string& text);

// Builds the results page of `source` and writes it into `view`, when there
// is one, as one new document; returns the built page's working values. The
// page goes to the view in pieces as it is built, and `source` is released
// before the view is closed: closing hands the written bytes to the engine,
// which copies them on the way to its web process, and a big page must not be
// held in any other form meanwhile.
results::BuiltPage WritePage(BrowserView* view, std::u16string&& source, std::u16string_view siteBaseUrl,
                             results::Variant variant);


}  // namespace quillmere::app
