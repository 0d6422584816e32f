// Fake views and windows that record what the window logic does to them in one
// shared log, so that tests can check the order of steps.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Interfaces.h"
#include "app/SearchForm.h"
#include "text/CodePage.h"

namespace quillmere::app::testing {

using Log = std::vector<std::string>;
inline std::string Narrow(std::u16string_view text) { return text::ToUtf8(text); }

struct Recorder {
  std::string name;
  Log& log;
  void Note(const std::string& what) { log.push_back(name + "." + what); }
};

struct FakeView : BrowserView, Recorder {
  FakeView(std::string name, Log& log) : Recorder{std::move(name), log} {}

  void SetBeforeNavigate2Handler(BeforeNavigate2Handler h) override { handler = std::move(h); }
  // Like the real view, a navigation that the program starts raises the event.
  void Navigate2(const std::u16string& target) override {
    Note("Navigate2 " + Narrow(target));
    UserNavigates(target);
  }
  void Open() override { Note("Open"), writes.clear(); }
  void Write(std::u16string_view text) override { Note("Write"), writes.emplace_back(text); }
  void Close() override { Note("Close"); }
  std::optional<std::u16string> FieldValue(const std::u16string& field) override {
    Note("FieldValue " + Narrow(field));
    const auto it = fields.find(field);
    return it == fields.end() ? std::nullopt : std::optional(it->second);
  }
  void SetTop(float twips) override { bounds[0] = twips; }
  void SetLeft(float twips) override { bounds[1] = twips; }
  void SetWidth(float twips) override { bounds[2] = twips; }
  void SetHeight(float twips) override { bounds[3] = twips; }

  // A navigation, e.g. a click on a link; returns whether it was cancelled.
  bool UserNavigates(const std::u16string& url) {
    bool cancel = false;
    if (handler) handler(url, cancel);
    if (!cancel) location = url;
    return cancel;
  }

  BeforeNavigate2Handler handler;
  std::map<std::u16string, std::u16string> fields;
  std::u16string location;
  std::vector<std::u16string> writes;
  float bounds[4] = {-1, -1, -1, -1};  // top, left, width, height
};

struct FakeWindow : Window, Recorder {
  FakeWindow(std::string name, Log& log, float w, float h) : Recorder{std::move(name), log}, width(w), height(h) {}

  void SetResizeHandler(ResizeHandler h) override { resize = std::move(h); }
  void SetCaption(const std::u16string& text) override { Note("Caption " + Narrow(text)), caption = text; }
  void Show() override { Note("Show"), ++shows; }
  void SetMousePointer(int shape) override { Note("MousePointer " + std::to_string(shape)), pointer = shape; }
  float Width() const override { return width; }
  float Height() const override { return height; }
  void Close() override {}
  void Resize(float w, float h) { width = w, height = h, resize(); }

  float width, height;
  ResizeHandler resize;
  std::u16string caption;
  int shows = 0, pointer = 0;
};

// Makes results windows R1, R2, ... and keeps them alive, as the toolkit's
// registry does.
struct FakeFactory : ResultsWindowFactory {
  FakeFactory(Log& log, PageFetcher fetcher) : log(log), fetcher(std::move(fetcher)) {}

  std::shared_ptr<SearchForm> CreateResultsWindow() override {
    const std::string name = "R" + std::to_string(forms.size() + 1);
    log.push_back("create " + name);
    auto window = std::make_unique<FakeWindow>(name, log, 10515.0f, 7200.0f);
    auto view = std::make_unique<FakeView>(name + ".WB2", log);
    windows.push_back(window.get());
    views.push_back(view.get());
    forms.push_back(std::make_shared<SearchForm>(WindowParts{std::move(window), std::move(view)}, *this, fetcher));
    return forms.back();
  }

  Log& log;
  PageFetcher fetcher;
  std::vector<std::shared_ptr<SearchForm>> forms;
  std::vector<FakeWindow*> windows;  // owned by the forms
  std::vector<FakeView*> views;
};

}  // namespace quillmere::app::testing
