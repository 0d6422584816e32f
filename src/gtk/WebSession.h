// What the program's views share: the web processes, the settings every view
// gets, and the downloads, which belong to no window.
#pragma once

#include <webkit/webkit.h>

#include <optional>
#include <string>
#include <vector>

#include "app/Downloads.h"
#include "app/FetchNotice.h"
#include "gtk/GObjectPtr.h"
#include "gtk/Launcher.h"

namespace quillmere::gtk {

// One web process for the results windows, and the handling of downloads.
class WebSession {
 public:
  explicit WebSession(DesktopLauncher& launcher);
  WebSession(const WebSession&) = delete;
  WebSession& operator=(const WebSession&) = delete;
  ~WebSession();

  DesktopLauncher& Launcher() { return launcher_; }

  // A view for a results window, sharing the web process of the others.
  GRefPtr<WebKitWebView> NewResultsView();
  // A view for the main window.
  GRefPtr<WebKitWebView> NewMainView();

  // The results web process is shared by every results window, so one page
  // that spins or eats memory stops them all. The session ends such a
  // process and remembers why, and which page most likely did it: the one
  // whose page began to run last.
  void NotePageRunning(const void* view) { running_ = view; }
  void Forget(const void* view) {
    if (running_ == view) running_ = nullptr;
  }
  const void* Culprit() const { return running_; }
  // Ends the results web process that `view` shares, which no longer answers.
  void EndUnresponsive(WebKitWebView* view);
  // Why the results web process last ended, given WebKit's own reason: for
  // a page that ran away, or nullopt for anything else (a crash).
  std::optional<app::PageStop> StopFor(WebKitWebProcessTerminationReason reason) const;

  // Files whose download finished, in order; kept for the tests.
  const std::vector<std::string>& FinishedDownloads() const { return finished_; }

  // A real click or key press in a results view, which may set off one
  // hand-off or download (app::ActionBudget).
  void GrantAction();
  // Whether a hand-off or download may go ahead on the current action; when
  // not, the user is told, once per action, how many were refused.
  bool SpendAction();

 private:
  static void OnDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self);
  static gboolean OnDecideDestination(WebKitDownload* download, const char* suggested, gpointer self);
  static void OnDownloadFailed(WebKitDownload* download, GError*, gpointer);
  static void OnDownloadFinished(WebKitDownload* download, gpointer self);
  static void OnReceivedData(WebKitDownload* download, guint64, gpointer);
  static gboolean TellRefused(gpointer self);
  void Configure(WebKitWebView* view);
  static void UseClassicScrollbars();

  DesktopLauncher& launcher_;
  // Every view's website data (cookies, storage, caches) lives in memory
  // only: nothing of a site's pages is kept on disk.
  GRefPtr<WebKitNetworkSession> networkSession_;
  // The results views' web process runs under a memory limit of its own.
  GRefPtr<WebKitWebContext> resultsContext_;
  GRefPtr<WebKitWebView> seed_;
  gulong downloadStartedId_ = 0;
  std::vector<std::string> finished_;
  const void* running_ = nullptr;
  // When the program last ended the results web process for not answering.
  gint64 endedBusyAt_ = 0;
  app::ActionBudget actions_;
  GSourceId refusalNotice_;
  bool refusalTold_ = false;
};

}  // namespace quillmere::gtk
