// The main window: shows the local start page, and turns each submission of
// its search form into a search that the program carries out itself, in a new
// results window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/Interfaces.h"
#include "app/SearchForm.h"

namespace quillmere::app {

// The caption, with the version as major.minor.
std::u16string MainCaption();

class MainForm {
 public:
  // `programFolder` is the folder that holds the program file, without a
  // trailing separator.
  MainForm(WindowParts parts, ResultsWindowFactory& factory, PageFetcher fetcher, std::u16string programFolder);
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  Window& Form() { return *window_; }
  BrowserView& WB() { return *view_; }

  void Form_Load();
  void Form_Resize();
  void WB_BeforeNavigate2(const std::u16string& url, bool& cancel);

  bool StartPageShown() const { return startPageShown_; }
  const std::u16string& QueryText() const { return queryText_; }
  std::shared_ptr<SearchForm> ResultsWindow() const { return resultsWindow_.lock(); }

 private:
  void ShowResults();

  std::unique_ptr<Window> window_;
  std::unique_ptr<BrowserView> view_;
  ResultsWindowFactory& factory_;
  PageFetcher fetcher_;
  std::u16string programFolder_;

  bool startPageShown_ = false;
  int32_t markStart_ = 0;
  int32_t markEnd_ = 0;
  int32_t markLength_ = 0;
  std::u16string queryText_;
  // As in a results window, the page and its pieces are not kept once written.
  std::weak_ptr<SearchForm> resultsWindow_;
  std::u16string pageSource_;
  std::u16string contentType_;
};

}  // namespace quillmere::app
