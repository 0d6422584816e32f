#include "app/SearchForm.h"

#include <algorithm>

#include "app/Layout.h"
#include "net/Site.h"
#include "net/SiteLink.h"
#include "results/ResultsPage.h"
#include "text/Text.h"

namespace quillmere::app {

using text::Find;
using text::Lower;
using text::Slice;

std::shared_ptr<SearchForm> OpenResultsWindow(ResultsWindowFactory& factory, const std::u16string& caption,
                                              const std::u16string& url, results::Variant variant) {
  std::shared_ptr<SearchForm> window = factory.CreateResultsWindow();
  window->SetSource(url, variant);
  window->Form().SetCaption(caption);
  window->WB2().Navigate2(u"about:blank");
  window->Form().Show();
  return window;
}

results::BuiltPage WritePage(BrowserView* view, std::u16string&& source, std::u16string_view siteBaseUrl,
                             results::Variant variant) {
  if (view) view->Open();
  results::BuiltPage page = results::WriteResultsPage(source, siteBaseUrl, variant, [view](std::u16string_view piece) {
    if (view) view->Write(piece);
  });
  ReleaseText(source);
  if (view) view->Close();
  return page;
}

SearchForm::SearchForm(WindowParts parts, ResultsWindowFactory& factory, PageFetcher fetcher)
    : window_(std::move(parts.window)), view_(std::move(parts.view)), factory_(factory), fetcher_(std::move(fetcher)) {
  window_->SetCaption(std::u16string(kResultsInitialCaption));
  window_->SetResizeHandler([this] { Form_Resize(); });
  view_->SetBeforeNavigate2Handler([this](const std::u16string& url, bool& cancel) { WB2_BeforeNavigate2(url, cancel); });
}

void SearchForm::Form_Resize() {
  view_->SetTop(0);
  view_->SetLeft(0);
  view_->SetWidth(std::max(0.0f, window_->Width() - kResultsWidthMargin));
  view_->SetHeight(std::max(0.0f, window_->Height() - kResultsHeightMargin));
}

void SearchForm::WB2_BeforeNavigate2(const std::u16string& url, bool& cancel) {
  const std::u16string lower = Lower(url);
  const bool directory = Find(1, lower, u"directory.asp") != 0;
  if (!directory && Find(1, lower, u"search.asp") == 0) return;
  // The program fetches only the site's own pages: an address of anywhere
  // else that names the markers is a link like any other, left to the view,
  // which keeps other servers' answers from the site's pages.
  if (!site::IsSiteAddress(url, site::SiteBaseUrl())) return;

  cancel = true;
  pageSource_.clear();

  std::u16string caption = u"Quillmere: ";
  if (directory) {
    caption += u"Directory";
  } else {
    markStart_ = Find(1, url, u"query=") + 6;
    markEnd_ = Find(markStart_, url, u"&");
    // With no "&" after it, the query runs to the end of the address.
    if (markEnd_ == 0) markEnd_ = static_cast<int32_t>(url.size()) + 1;
    markLength_ = markEnd_ - markStart_;
    caption += Slice(url, markStart_, markLength_);
  }
  resultsWindow_ = OpenResultsWindow(factory_, caption, url, results::Variant::ResultsWindow);

  pageSource_ = fetcher_(url, contentType_, u"", 1024, 1);
  if (!pageSource_.empty()) ShowResults();
}

void SearchForm::SetSource(std::u16string url, results::Variant variant) {
  sourceUrl_ = std::move(url);
  sourceVariant_ = variant;
  // The page's links keep pointing at the site it came from, should the
  // setting change before it is fetched again.
  sourceBase_ = site::SiteBaseUrl();
}

bool SearchForm::Reload(const PageFetcher& fetcher) {
  if (sourceUrl_.empty()) return false;
  // The fields belong to the links followed from this window; reloading its
  // own page leaves them alone.
  std::u16string contentType;
  std::u16string source = fetcher(sourceUrl_, contentType, u"", 1024, 1);
  if (source.empty()) return false;
  WritePage(view_.get(), std::move(source), sourceBase_, sourceVariant_);
  return true;
}

void SearchForm::ShowResults() {
  const std::shared_ptr<SearchForm> target = resultsWindow_.lock();
  const results::BuiltPage page = WritePage(target ? &target->WB2() : nullptr, std::move(pageSource_),
                                            site::SiteBaseUrl(), results::Variant::ResultsWindow);
  markStart_ = page.markStart;
  markEnd_ = page.markEnd;
  markLength_ = page.markLength;
}

void ReleaseText(std::u16string& text) { std::u16string().swap(text); }

}  // namespace quillmere::app
