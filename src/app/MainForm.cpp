#include "app/MainForm.h"

#include <algorithm>

#include "BuildConfig.h"
#include "app/Layout.h"
#include "net/Site.h"
#include "results/ResultsPage.h"
#include "text/Text.h"

namespace quillmere::app {

std::u16string MainCaption() { return u"Quillmere " QUILLMERE_VERSION_SHORT; }

MainForm::MainForm(WindowParts parts, ResultsWindowFactory& factory, PageFetcher fetcher, std::u16string programFolder)
    : window_(std::move(parts.window)),
      view_(std::move(parts.view)),
      factory_(factory),
      fetcher_(std::move(fetcher)),
      programFolder_(std::move(programFolder)) {
  window_->SetCaption(MainCaption());
  window_->SetResizeHandler([this] { Form_Resize(); });
  view_->SetBeforeNavigate2Handler([this](const std::u16string& url, bool& cancel) { WB_BeforeNavigate2(url, cancel); });
}

void MainForm::Form_Load() {
  startPageShown_ = false;
  view_->Navigate2(programFolder_ + u"/Data/index.dat");
}

void MainForm::Form_Resize() {
  view_->SetTop(0);
  view_->SetLeft(0);
  view_->SetWidth(std::max(0.0f, window_->Width() - kMainWidthMargin));
  view_->SetHeight(std::max(0.0f, window_->Height() - kMainHeightMargin));
}

void MainForm::WB_BeforeNavigate2(const std::u16string& url, bool& cancel) {
  // The first navigation is the start page itself.
  if (!startPageShown_) {
    startPageShown_ = true;
    return;
  }
  pageSource_.clear();
  // Script addresses of the start page run in the page. Only the scheme
  // counts: a search for the word itself is a search like any other.
  if (text::Lower(text::Slice(url, 1, 11)) == u"javascript:") return;

  cancel = true;
  window_->SetMousePointer(kPointerHourglass);
  // A start page without the field searches on with an empty query.
  queryText_ = view_->FieldValue(u"query").value_or(u"");
  resultsWindow_ = OpenResultsWindow(factory_, u"Quillmere: " + queryText_, url, results::Variant::MainWindow);

  pageSource_ = fetcher_(url, contentType_, u"", 1024, 1);
  if (!pageSource_.empty()) {
    ShowResults();
  } else {
    window_->SetMousePointer(kPointerDefault);
  }
}

void MainForm::ShowResults() {
  const std::shared_ptr<SearchForm> target = resultsWindow_.lock();
  const results::BuiltPage page = WritePage(target ? &target->WB2() : nullptr, std::move(pageSource_),
                                            site::SiteBaseUrl(), results::Variant::MainWindow);
  markStart_ = page.markStart;
  markEnd_ = page.markEnd;
  markLength_ = page.markLength;
  if (target) target->Form().Show();
  window_->SetMousePointer(kPointerDefault);
}

}  // namespace quillmere::app
