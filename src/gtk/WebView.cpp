#include "gtk/WebView.h"

#include <glib/gstdio.h>

#include <cstdlib>
#include <utility>

#include "app/Downloads.h"
#include "text/CodePage.h"

namespace quillmere::gtk {

using app::kTwipsPerPixel;

namespace {

constexpr char kQueryFieldName[] = "query";

// Reads the search field of the page shown: its value as it stands, typed
// text included, or null when the page has no such field.
constexpr char kReadQueryScript[] = R"JS(
(function () {
  var field = document.querySelector('[name="query"], [id="query"]');
  return (field && typeof field.value === 'string') ? field.value : null;
})()
)JS";

bool IsDownloadFailed(WebKitDownload* download) {
  return g_object_get_data(G_OBJECT(download), "quillmere-failed") != nullptr;
}

}  // namespace

// --- WebSession ---

WebSession::WebSession(DesktopLauncher& launcher) : launcher_(launcher) {
  UseClassicScrollbars();
  // Results views are related to this one, which never loads anything, so that
  // they share one web process whichever windows are open.
  seed_ = GRefPtr<WebKitWebView>::Ref(WEBKIT_WEB_VIEW(webkit_web_view_new()));
  Configure(seed_.get());
  networkSession_ = webkit_web_view_get_network_session(seed_.get());
  downloadStartedId_ = g_signal_connect(networkSession_, "download-started", G_CALLBACK(OnDownloadStarted), this);
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
  if (downloadStartedId_) g_signal_handler_disconnect(networkSession_, downloadStartedId_);
}

void WebSession::Configure(WebKitWebView* view) {
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_default_charset(settings, "UTF-8");
}

GRefPtr<WebKitWebView> WebSession::NewResultsView() {
  auto view = GRefPtr<WebKitWebView>::Ref(
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", seed_.get(), nullptr)));
  Configure(view.get());
  return view;
}

GRefPtr<WebKitWebView> WebSession::NewMainView() {
  auto view = GRefPtr<WebKitWebView>::Ref(
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", networkSession_, nullptr)));
  Configure(view.get());
  return view;
}

void WebSession::OnDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer self) {
  // Held until the download has finished.
  g_object_ref(download);
  g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), self);
  g_signal_connect(download, "failed", G_CALLBACK(OnDownloadFailed), self);
  g_signal_connect(download, "finished", G_CALLBACK(OnDownloadFinished), self);
}

gboolean WebSession::OnDecideDestination(WebKitDownload* download, const char* suggested, gpointer) {
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

void WebSession::OnDownloadFailed(WebKitDownload* download, GError*, gpointer) {
  g_object_set_data(G_OBJECT(download), "quillmere-failed", GINT_TO_POINTER(1));
}

void WebSession::OnDownloadFinished(WebKitDownload* download, gpointer self) {
  auto owned = GRefPtr<WebKitDownload>::Adopt(download);
  if (IsDownloadFailed(download)) return;
  const char* destination = webkit_download_get_destination(download);
  if (!destination) return;
  auto* session = static_cast<WebSession*>(self);
  session->finished_.emplace_back(destination);
  // Like a browser's "open when done": the file goes to the application that
  // the desktop has for its type, a torrent client for a .torrent.
  session->launcher_.OpenFile(destination);
}

// --- WebViewAdapter ---

WebViewAdapter::WebViewAdapter(WebSession& session, Kind kind)
    : session_(session), readsField_(kind == Kind::Main), alive_(std::make_shared<bool>(true)) {
  view_ = kind == Kind::Main ? session.NewMainView() : session.NewResultsView();
  signalIds_.push_back(g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(OnDecidePolicy), this));
}

WebViewAdapter::~WebViewAdapter() {
  *alive_ = false;
  for (gulong id : signalIds_) g_signal_handler_disconnect(view_.get(), id);
}

void WebViewAdapter::Navigate2(const std::u16string& target) {
  const std::string utf8 = text::ToUtf8(target);
  // A view that is at "about:blank" already has nothing to load for it again;
  // a spare results window is handed over in that state.
  const bool blank = utf8 == "about:blank";
  if (blank && blank_) return;
  blank_ = blank;
  if (!utf8.empty() && utf8.front() == '/') {
    GCharPtr uri(g_filename_to_uri(utf8.c_str(), nullptr, nullptr));
    if (uri) webkit_web_view_load_uri(view_.get(), uri.get());
    return;
  }
  webkit_web_view_load_uri(view_.get(), utf8.c_str());
}

void WebViewAdapter::Open() { written_.clear(); }

void WebViewAdapter::Write(std::u16string_view text) { written_ += text; }

void WebViewAdapter::Close() {
  blank_ = false;
  std::string utf8 = text::ToUtf8(written_);
  written_.clear();
  // The length goes with the bytes, so a U+0000 in the page does not end it.
  GBytesPtr bytes(g_bytes_new(utf8.data(), utf8.size()));
  // The encoding given here is the document's transport encoding, which the
  // HTML parser ranks above a <meta> charset in the page (the page template
  // declares iso-8859-1, which its converted text no longer is).
  webkit_web_view_load_bytes(view_.get(), bytes.get(), "text/html", "UTF-8", "about:blank");
}

std::optional<std::u16string> WebViewAdapter::FieldValue(const std::u16string& name) {
  if (name != text::FromUtf8(kQueryFieldName)) return std::nullopt;
  return queryField_;
}

void WebViewAdapter::SetTop(float twips) {
  top_ = twips;
  PlaceView();
}
void WebViewAdapter::SetLeft(float twips) {
  left_ = twips;
  PlaceView();
}
void WebViewAdapter::SetWidth(float twips) {
  width_ = twips;
  PlaceView();
}
void WebViewAdapter::SetHeight(float twips) {
  height_ = twips;
  PlaceView();
}

void WebViewAdapter::PlaceView() {
  if (!host_) return;
  quillmere_view_host_set_child_rect(host_, left_ / kTwipsPerPixel, top_ / kTwipsPerPixel, width_ / kTwipsPerPixel,
                                     height_ / kTwipsPerPixel);
}

gboolean WebViewAdapter::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                        gpointer data) {
  auto* self = static_cast<WebViewAdapter*>(data);
  switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
      return self->DecideNavigation(decision, false);
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
      return self->DecideNavigation(decision, true);
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: {
      auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      // What the view cannot show, a .torrent above all, is saved instead.
      if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
        webkit_policy_decision_download(decision);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

bool WebViewAdapter::DecideNavigation(WebKitPolicyDecision* decision, bool newWindow) {
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const std::string uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));

  if (!newWindow && reissuedUri_ && *reissuedUri_ == uri) {
    reissuedUri_.reset();
    webkit_policy_decision_use(decision);
    return true;
  }
  if (!readsField_) {
    RunHandler(decision, newWindow);
    return true;
  }

  // The main window's handler reads the search field, and WebKit answers
  // scripts only asynchronously: the navigation waits, undecided, until the
  // field's value is here, and then the handler runs all its steps in order.
  struct Pending {
    std::weak_ptr<bool> alive;
    WebViewAdapter* self;
    GRefPtr<WebKitPolicyDecision> decision;
    bool newWindow;
  };
  auto* pending = new Pending{alive_, this, GRefPtr<WebKitPolicyDecision>::Ref(decision), newWindow};
  webkit_web_view_evaluate_javascript(
      view_.get(), kReadQueryScript, -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
        GErrorPtr error;
        auto value = GRefPtr<JSCValue>::Adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, error.Out()));
        const auto alive = pending->alive.lock();
        if (!alive || !*alive) {
          webkit_policy_decision_ignore(pending->decision.get());
          return;
        }
        WebViewAdapter* self = pending->self;
        self->queryField_.reset();
        if (value && !error && jsc_value_is_string(value.get())) {
          GCharPtr utf8(jsc_value_to_string(value.get()));
          self->queryField_ = text::FromUtf8(utf8 ? utf8.get() : "");
        }
        self->RunHandler(pending->decision.get(), pending->newWindow);
      },
      pending);
  return true;
}

void WebViewAdapter::RunHandler(WebKitPolicyDecision* decision, bool newWindow) {
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const std::string uri = webkit_uri_request_get_uri(request);

  // The handler may block on a fetch and open windows; the decision object
  // must outlive it.
  auto keep = GRefPtr<WebKitPolicyDecision>::Ref(decision);
  bool cancel = false;
  if (handler_) handler_(text::FromUtf8(uri), cancel);

  if (cancel) {
    webkit_policy_decision_ignore(decision);
    return;
  }
  GCharPtr scheme(g_uri_parse_scheme(uri.c_str()));
  if (scheme && g_ascii_strcasecmp(scheme.get(), "magnet") == 0) {
    webkit_policy_decision_ignore(decision);
    session_.Launcher().OpenUri(uri);
    return;
  }
  if (newWindow) {
    // The program opens no windows but its own: a new-window navigation that
    // it lets through is loaded in this view.
    webkit_policy_decision_ignore(decision);
    reissuedUri_ = uri;
    webkit_web_view_load_request(view_.get(), request);
    return;
  }
  webkit_policy_decision_use(decision);
}

}  // namespace quillmere::gtk
