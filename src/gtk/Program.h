// Puts the two window classes on GTK: makes their windows and views, keeps
// every window alive until the user closes it, and tells when the last one
// has gone.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Interfaces.h"
#include "app/MainForm.h"
#include "app/SearchForm.h"
#include "gtk/Fetcher.h"
#include "gtk/GObjectPtr.h"
#include "gtk/Launcher.h"
#include "gtk/WebView.h"
#include "gtk/Window.h"
#include "gtk/ZoomSetting.h"

namespace quillmere::gtk {

class Program final : public app::ResultsWindowFactory {
 public:
  // `app` may be null; then `onLastWindowClosed` is how the caller learns
  // that the program is done.
  Program(GtkApplication* app, app::PageFetcher fetcher, std::string programFolder, DesktopLauncher& launcher);
  ~Program() override;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Creates and shows the main window; its load handler sends it to the
  // start page.
  app::MainForm& Start();

  std::shared_ptr<app::SearchForm> CreateResultsWindow() override;

  // A second start of the program: brings the main window to the front, or
  // opens a new one when the user has closed it.
  void PresentMain();
  // Closes every window of the program; the last one closed ends it.
  void CloseAll();

  // The main window's primary menu; set before Start.
  void SetMainMenu(GRefPtr<GMenuModel> menu) { mainMenu_ = std::move(menu); }
  // The site has changed: the start page is loaded again, its form now
  // sending searches to the new site.
  void SiteChanged();

  void SetLastWindowClosedHandler(std::function<void()> handler) { onLastWindowClosed_ = std::move(handler); }

  // For the tests: what is open, and the GTK objects behind a form.
  app::MainForm* Main() { return main_.get(); }
  const std::vector<std::shared_ptr<app::SearchForm>>& ResultsWindows() const { return results_; }
  size_t OpenWindowCount() const { return (main_ ? 1 : 0) + results_.size(); }
  WebSession& Session() { return session_; }
  // The zoom of every results window.
  ZoomSetting& Zoom() { return zoom_; }
  // Fetches the page of a results window again and writes it into the same
  // window; a page its view loaded itself is reloaded by the view.
  void Reload(app::SearchForm& form);
  // The hidden results window that the next new results window will be; null
  // while none is ready.
  GtkWindow* Spare() const { return spare_ ? spare_->window->Widget() : nullptr; }
  static WebKitWebView* ViewOf(app::BrowserView& view);
  static GtkWindow* WindowOf(app::Window& window);

 private:
  void Release(const void* form);
  static gboolean ReleaseClosed(gpointer self);
  // While a fetch runs, the windows take no input but Escape and closing.
  void OnFetchRunning(bool running);
  void ReloadStartPageLater();
  // Fetches for `target`, the results window that the page is for, whose
  // notice says meanwhile that it is searching and afterwards what became of
  // the fetch.
  std::u16string FetchFor(const std::weak_ptr<app::SearchForm>& target, const std::u16string& url,
                          std::u16string& contentType, const std::u16string& postData, int32_t bufferSize,
                          int32_t mode);
  // The fetcher the forms are given: for the newest results window, which
  // can then fetch the same address again.
  std::u16string FetchForNewest(const std::u16string& url, std::u16string& contentType,
                                const std::u16string& postData, int32_t bufferSize, int32_t mode);
  std::vector<app::Window*> Windows();

  // A results window's parts before they become a form; its closing callback
  // learns the form's address through `self`.
  struct ResultsParts {
    app::WindowParts parts;
    WindowAdapter* window;
    std::shared_ptr<const void*> self;
  };
  // `app` is null for the spare, which joins the application when handed over.
  ResultsParts MakeResultsParts(GtkApplication* app);
  // The spare results window, made ahead of time (SpareWindow.cpp).
  void MakeSpareAfterStartPage();
  void MakeNextSpare();
  void MakeSpareLater(guint delayMs);
  static gboolean MakeSpare(gpointer self);
  std::optional<ResultsParts> TakeSpare();
  void DropSpare();
  // Gives a results window its keys and mouse buttons (ResultsWindow.cpp).
  void AttachResultsKeys(const std::shared_ptr<app::SearchForm>& form);

  GtkApplication* app_;
  app::PageFetcher fetcher_;
  app::PageFetcher formsFetcher_;
  // The form that the running fetch is for.
  const void* fetchTarget_ = nullptr;
  std::string programFolder_;
  WebSession session_;
  ZoomSetting zoom_;
  std::unique_ptr<app::MainForm> main_;
  std::vector<std::shared_ptr<app::SearchForm>> results_;
  // Forms whose windows have closed, released on the next idle, away from the
  // GTK signal that is tearing their widgets down, and never while a fetch
  // runs: the handler that waits for it may belong to one of them.
  std::vector<const void*> closed_;
  GSourceId releaseSource_;
  std::function<void()> onLastWindowClosed_;
  // A hidden results window, realised and already at "about:blank" in the
  // results' web process, which the next search or followed link is given.
  std::optional<ResultsParts> spare_;
  GSourceId spareSource_;
  std::optional<SignalConnection> startPageLoaded_;
  std::optional<SignalConnection> windowRemoved_;
  GRefPtr<GMenuModel> mainMenu_;
  // The start page waits for the running fetch before it is loaded again.
  bool startPageStale_ = false;
  GSourceId reloadSource_;
};

// The folder that holds the running program file, from /proc/self/exe.
std::string ProgramFolder();

}  // namespace quillmere::gtk
