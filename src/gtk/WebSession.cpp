#include "gtk/WebSession.h"

#include <glib/gstdio.h>

#include <cstdlib>
#include <optional>

#include "app/Downloads.h"

namespace quillmere::gtk {

namespace {

// The results web process may use this much memory before WebKit starts to
// free what it can; at one and a half times as much, 960 MiB, it is ended.
// WebKit checks every kMemoryPollSeconds, and first asks the process to free
// memory, so a page that allocates as fast as it can overshoots: measured at
// 1.1 to 1.8 GiB for a page adding 40 MiB every 50 ms, which must stay under
// 2 GiB. A slower check (0.25 s) let the same page reach 2 GiB.
constexpr guint kResultsMemoryLimitMiB = 640;
constexpr double kMemoryPollSeconds = 0.1;

bool HasMark(WebKitDownload* download, const char* mark) {
  return g_object_get_data(G_OBJECT(download), mark) != nullptr;
}
void Mark(WebKitDownload* download, const char* mark) { g_object_set_data(G_OBJECT(download), mark, GINT_TO_POINTER(1)); }

// How long a page has, after its first refused hand-off, to try the rest
// before the user is told how many were refused.
constexpr guint kRefusalNoticeDelayMs = 500;

}  // namespace

WebSession::WebSession(DesktopLauncher& launcher) : launcher_(launcher) {
  // A results page comes from a site we do not control: a runaway one must
  // not take the machine's memory. Past the limit WebKit ends the results
  // web process, and the views show their pages again (OnWebProcessTerminated).
  WebKitMemoryPressureSettings* memory = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(memory, kResultsMemoryLimitMiB);
  webkit_memory_pressure_settings_set_kill_threshold(memory, 1.5);
  webkit_memory_pressure_settings_set_poll_interval(memory, kMemoryPollSeconds);
  resultsContext_ = GRefPtr<WebKitWebContext>::Adopt(
      WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", memory, nullptr)));
  webkit_memory_pressure_settings_free(memory);
  UseClassicScrollbars();
  // Results views are related to this one, which never loads anything, so that
  // they share one web process whichever windows are open.
  networkSession_ = GRefPtr<WebKitNetworkSession>::Adopt(webkit_network_session_new_ephemeral());
  seed_ = GRefPtr<WebKitWebView>::Ref(WEBKIT_WEB_VIEW(g_object_new(
      WEBKIT_TYPE_WEB_VIEW, "web-context", resultsContext_.get(), "network-session", networkSession_.get(), nullptr)));
  Configure(seed_.get());
  downloadStartedId_ =
      g_signal_connect(networkSession_.get(), "download-started", G_CALLBACK(OnDownloadStarted), this);
}

void WebSession::UseClassicScrollbars() {
  // Overlay scrollbars fade in and out in every page of a web process each
  // time a view joins it, which redraws every open results window many times
  // over for each new one. The results page asks for a scrollbar that is
  // always there, which classic scrollbars are.
  if (GtkSettings* settings = gtk_settings_get_default())
    g_object_set(settings, "gtk-overlay-scrolling", FALSE, nullptr);
}

WebSession::~WebSession() {
  if (downloadStartedId_) g_signal_handler_disconnect(networkSession_.get(), downloadStartedId_);
}

void WebSession::Configure(WebKitWebView* view) {
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_default_charset(settings, "UTF-8");
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  // Nothing on a page may put up a dialog, a print dialog or a permission
  // question by itself.
  g_signal_connect(view, "script-dialog", G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
    // Leaving a page is never held up by it.
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
      webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
  }), nullptr);
  g_signal_connect(view, "print", G_CALLBACK(+[](WebKitWebView*, WebKitPrintOperation*, gpointer) { return TRUE; }),
                   nullptr);
  g_signal_connect(view, "permission-request",
                   G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
                     webkit_permission_request_deny(request);
                     return TRUE;
                   }),
                   nullptr);
}

GRefPtr<WebKitWebView> WebSession::NewResultsView() {
  auto view = GRefPtr<WebKitWebView>::Ref(
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", seed_.get(), nullptr)));
  Configure(view.get());
  return view;
}

GRefPtr<WebKitWebView> WebSession::NewMainView() {
  auto view = GRefPtr<WebKitWebView>::Ref(
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", networkSession_.get(), nullptr)));
  Configure(view.get());
  return view;
}

void WebSession::EndUnresponsive(WebKitWebView* view) {
  endedBusyAt_ = g_get_monotonic_time();
  webkit_web_view_terminate_web_process(view);
}

std::optional<app::PageStop> WebSession::StopFor(WebKitWebProcessTerminationReason reason) const {
  if (reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT) return app::PageStop::Memory;
  // Every view of the process hears of its end in turn, at once.
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API && endedBusyAt_ != 0 &&
      g_get_monotonic_time() - endedBusyAt_ < G_USEC_PER_SEC)
    return app::PageStop::Busy;
  return std::nullopt;
}

void WebSession::GrantAction() {
  // A notice still due belongs to the action before.
  if (refusalNotice_.get()) {
    refusalNotice_.reset();
    TellRefused(this);
  }
  actions_.Grant();
  refusalTold_ = false;
}

bool WebSession::SpendAction() {
  if (actions_.Spend()) return true;
  if (!refusalTold_ && !refusalNotice_.get())
    refusalNotice_ = GSourceId(g_timeout_add(kRefusalNoticeDelayMs, TellRefused, this));
  return false;
}

gboolean WebSession::TellRefused(gpointer data) {
  auto* self = static_cast<WebSession*>(data);
  self->refusalNotice_.forget();
  self->refusalTold_ = true;
  self->launcher_.Notify(app::RefusedNotice(self->actions_.Refused()));
  return G_SOURCE_REMOVE;
}

void WebSession::OnDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self) {
  // Held until the download has finished, whether or not its window is still
  // open: the notice at its end is what tells the user about it.
  g_object_ref(download);
  if (!static_cast<WebSession*>(self)->SpendAction()) Mark(download, "quillmere-refused");
  g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), self);
  g_signal_connect(download, "received-data", G_CALLBACK(OnReceivedData), self);
  g_signal_connect(download, "failed", G_CALLBACK(OnDownloadFailed), self);
  g_signal_connect(download, "finished", G_CALLBACK(OnDownloadFinished), self);
}

void WebSession::OnReceivedData(WebKitDownload* download, guint64, gpointer) {
  if (webkit_download_get_received_data_length(download) <= app::kMaxDownloadBytes || HasMark(download, "quillmere-too-large"))
    return;
  Mark(download, "quillmere-too-large");
  webkit_download_cancel(download);
}

gboolean WebSession::OnDecideDestination(WebKitDownload* download, const char* suggested, gpointer) {
  if (HasMark(download, "quillmere-refused")) {
    webkit_download_cancel(download);
    return TRUE;
  }
  const char* environmentDir = std::getenv("XDG_DOWNLOAD_DIR");
  const char* settingsDir = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  const std::string folder = app::DownloadFolder(
      environmentDir ? std::optional<std::string>(environmentDir) : std::nullopt,
      settingsDir ? std::optional<std::string>(settingsDir) : std::nullopt, g_get_home_dir());
  g_mkdir_with_parents(folder.c_str(), 0700);
  const std::string path =
      app::UniqueDownloadPath(folder, app::SafeDownloadName(suggested ? suggested : ""),
                              [](const std::string& p) { return g_file_test(p.c_str(), G_FILE_TEST_EXISTS); });
  if (path.empty()) {
    webkit_download_cancel(download);
    return TRUE;
  }
  webkit_download_set_allow_overwrite(download, FALSE);
  webkit_download_set_destination(download, path.c_str());
  return TRUE;
}

void WebSession::OnDownloadFailed(WebKitDownload* download, GError* error, gpointer self) {
  Mark(download, "quillmere-failed");
  const char* destination = webkit_download_get_destination(download);
  if (HasMark(download, "quillmere-too-large")) {
    // Nothing of it is left behind: neither the file being written nor one
    // that WebKit may already have moved into place.
    if (destination) {
      g_remove((std::string(destination) + ".wkdownload").c_str());
      g_remove(destination);
    }
    static_cast<WebSession*>(self)->launcher_.Notify(app::TooLargeNotice());
    return;
  }
  // A download given up because no free name was left, or refused, was
  // already dealt with.
  if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) return;
  static_cast<WebSession*>(self)->launcher_.Notify(
      app::FailedNotice(destination ? destination : "", error ? error->message : "unknown error"));
}

void WebSession::OnDownloadFinished(WebKitDownload* download, gpointer self) {
  auto owned = GRefPtr<WebKitDownload>::Adopt(download);
  if (HasMark(download, "quillmere-failed")) return;
  const char* destination = webkit_download_get_destination(download);
  if (!destination) return;
  auto* session = static_cast<WebSession*>(self);
  session->finished_.emplace_back(destination);
  // Only a torrent goes to an application, the torrent application; every
  // other download is saved and left alone, whatever the server called it.
  const bool torrent = IsTorrentFile(destination);
  const Handoff handoff = torrent ? session->launcher_.OpenTorrent(destination) : Handoff{};
  session->launcher_.Notify(app::SavedNotice(destination, torrent, handoff.launched, handoff.error));
}

}  // namespace quillmere::gtk
