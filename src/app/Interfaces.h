// What the two window classes ask of the toolkit: an embedded HTML view, a
// top-level window, and a way to make new results windows. The GTK program
// puts these on GTK 4 and WebKitGTK; the tests put them on fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere::app {

// Mouse pointer shapes, by their conventional numbers.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

// Twips per pixel at the usual screen resolution.
inline constexpr float kTwipsPerPixel = 15.0f;

class BrowserView {
 public:
  // Raised before every navigation of the view, also those that Navigate2
  // starts. Setting `cancel` to true stops the navigation.
  using BeforeNavigate2Handler = std::function<void(const std::u16string& url, bool& cancel)>;

  virtual ~BrowserView() = default;

  virtual void SetBeforeNavigate2Handler(BeforeNavigate2Handler handler) = 0;

  // Loads an address, or a file given by its path.
  virtual void Navigate2(const std::u16string& target) = 0;

  // Writing a new document in place of the current one: Open, any number of
  // Writes, then Close, at which the written page is shown.
  virtual void Open() = 0;
  virtual void Write(std::u16string_view text) = 0;
  virtual void Close() = 0;

  // The current value of the form field whose name or id is `name` in the
  // document shown; nullopt when the document has no such field.
  virtual std::optional<std::u16string> FieldValue(const std::u16string& name) = 0;

  // Place and size inside the window, in twips.
  virtual void SetTop(float twips) = 0;
  virtual void SetLeft(float twips) = 0;
  virtual void SetWidth(float twips) = 0;
  virtual void SetHeight(float twips) = 0;
};

class Window {
 public:
  using ResizeHandler = std::function<void()>;

  virtual ~Window() = default;

  virtual void SetResizeHandler(ResizeHandler handler) = 0;
  virtual void SetCaption(const std::u16string& caption) = 0;
  // Shows the window modeless and without an owner; showing a shown window
  // again does nothing more.
  virtual void Show() = 0;
  virtual void SetMousePointer(int pointer) = 0;
  // The size that the layout reads, in twips.
  virtual float Width() const = 0;
  virtual float Height() const = 0;
  virtual void Close() = 0;
};

// A window together with the browser view that fills it.
struct WindowParts {
  std::unique_ptr<Window> window;
  std::unique_ptr<BrowserView> view;
};

class SearchForm;

// Makes new results windows. The factory keeps every window it makes alive
// until the user closes it; openers only refer to them.
class ResultsWindowFactory {
 public:
  virtual ~ResultsWindowFactory() = default;
  virtual std::shared_ptr<SearchForm> CreateResultsWindow() = 0;
};

// The page fetcher, as ModINET::FetchPage.
using PageFetcher = std::function<std::u16string(const std::u16string& url, std::u16string& contentType,
                                                 const std::u16string& postData, int32_t bufferSize,
                                                 int32_t mode)>;

}  // namespace quillmere::app
