// Fake views, windows and a fake fetcher that record what the window logic
// does to them in one shared log, so that tests can check the order of steps.
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

class FakeView : public BrowserView {
 public:
  FakeView(std::string name, Log& log) : name_(std::move(name)), log_(log) {}

  void SetBeforeNavigate2Handler(BeforeNavigate2Handler handler) override { handler_ = std::move(handler); }
  // Like the real view, a navigation that the program starts raises the event.
  void Navigate2(const std::u16string& target) override {
    log_.push_back(name_ + ".Navigate2 " + Narrow(target));
    UserNavigates(target);
  }
  void Open() override {
    log_.push_back(name_ + ".Open");
    writes.clear();
  }
  void Write(std::u16string_view text) override {
    log_.push_back(name_ + ".Write");
    writes.emplace_back(text);
  }
  void Close() override { log_.push_back(name_ + ".Close"); }
  std::optional<std::u16string> FieldValue(const std::u16string& name) override {
    log_.push_back(name_ + ".FieldValue " + Narrow(name));
    const auto it = fields.find(name);
    return it == fields.end() ? std::nullopt : std::optional(it->second);
  }
  void SetTop(float twips) override { bounds[0] = twips; }
  void SetLeft(float twips) override { bounds[1] = twips; }
  void SetWidth(float twips) override { bounds[2] = twips; }
  void SetHeight(float twips) override { bounds[3] = twips; }

  // A navigation, e.g. a click on a link; returns whether it was cancelled.
  bool UserNavigates(const std::u16string& url) {
    bool cancel = false;
    if (handler_) handler_(url, cancel);
    if (!cancel) location = url;
    return cancel;
  }

  std::map<std::u16string, std::u16string> fields;
  std::u16string location;
  std::vector<std::u16string> writes;
  float bounds[4] = {-1, -1, -1, -1};  // top, left, width, height

 private:
  std::string name_;
  Log& log_;
  BeforeNavigate2Handler handler_;
};

class FakeWindow : public Window {
 public:
  FakeWindow(std::string name, Log& log, float width, float height)
      : name_(std::move(name)), log_(log), width_(width), height_(height) {}

  void SetResizeHandler(ResizeHandler handler) override { resize_ = std::move(handler); }
  void SetCaption(const std::u16string& text) override {
    log_.push_back(name_ + ".Caption " + Narrow(text));
    caption = text;
  }
  void Show() override {
    log_.push_back(name_ + ".Show");
    ++shows;
  }
  void SetMousePointer(int shape) override {
    log_.push_back(name_ + ".MousePointer " + std::to_string(shape));
    pointer = shape;
  }
  float Width() const override { return width_; }
  float Height() const override { return height_; }
  void Close() override {}

  void Resize(float width, float height) {
    width_ = width;
    height_ = height;
    if (resize_) resize_();
  }

  std::u16string caption;
  int shows = 0;
  int pointer = 0;

 private:
  std::string name_;
  Log& log_;
  float width_, height_;
  ResizeHandler resize_;
};

// Makes results windows R1, R2, ... and keeps them alive, as the toolkit's
// registry does.
class FakeFactory : public ResultsWindowFactory {
 public:
  FakeFactory(Log& log, PageFetcher fetcher) : log_(log), fetcher_(std::move(fetcher)) {}

  std::shared_ptr<SearchForm> CreateResultsWindow() override {
    const std::string name = "R" + std::to_string(forms.size() + 1);
    log_.push_back("create " + name);
    auto window = std::make_unique<FakeWindow>(name, log_, 10515.0f, 7200.0f);
    auto view = std::make_unique<FakeView>(name + ".WB2", log_);
    windows.push_back(window.get());
    views.push_back(view.get());
    forms.push_back(std::make_shared<SearchForm>(WindowParts{std::move(window), std::move(view)}, *this, fetcher_));
    return forms.back();
  }

  std::vector<std::shared_ptr<SearchForm>> forms;
  std::vector<FakeWindow*> windows;
  std::vector<FakeView*> views;

 private:
  Log& log_;
  PageFetcher fetcher_;
};

// Answers every fetch with `page` and records the arguments.
struct FakeFetcher {
  explicit FakeFetcher(Log& log) : log_(log) {}

  PageFetcher AsFetcher() {
    return [this](const std::u16string& url, std::u16string& contentType, const std::u16string& postData,
                  int32_t bufferSize, int32_t mode) {
      log_.push_back("fetch " + Narrow(url) + " [" + Narrow(postData) + "] " + std::to_string(bufferSize) + " " +
                     std::to_string(mode));
      urls.push_back(url);
      contentType = u"text/html";
      return page;
    };
  }

  std::u16string page;
  std::vector<std::u16string> urls;

 private:
  Log& log_;
};

}  // namespace quillmere::app::testing
