#include "gtk/WebView.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "app/Downloads.h"
#include "gtk/Fetcher.h"
#include "net/Site.h"
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

// WebKit finds a process unresponsive after it has not answered for 3 s.
constexpr guint kUnresponsiveGraceMs = 1500;

// What a load of the view's own failed of, in the fetcher's terms.
ModINET::FetchFailure FailureOf(const GError* error) {
  using ModINET::FetchFailure;
  if (error->domain == G_RESOLVER_ERROR) return FetchFailure::NameNotFound;
  if (error->domain == G_TLS_ERROR) return FetchFailure::Tls;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CONNECTION_REFUSED: return FetchFailure::ConnectionRefused;
      case G_IO_ERROR_TIMED_OUT: return FetchFailure::ConnectTimeout;
      case G_IO_ERROR_CANCELLED: return FetchFailure::Cancelled;
      default: return FetchFailure::Other;
    }
  }
  if (error->domain == WEBKIT_NETWORK_ERROR)
    return error->code == WEBKIT_NETWORK_ERROR_CANCELLED ? FetchFailure::Cancelled : FetchFailure::Other;
  // A load that a policy decision ended, a download taking it over among
  // them, is no failure of the network.
  return FetchFailure::Cancelled;
}

}  // namespace

WebViewAdapter::WebViewAdapter(WebSession& session, Kind kind)
    : session_(session), kind_(kind), alive_(std::make_shared<bool>(true)) {
  view_ = kind == Kind::Main ? session.NewMainView() : session.NewResultsView();
  signalIds_.push_back(g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(OnDecidePolicy), this));
  signalIds_.push_back(g_signal_connect(view_.get(), "load-changed", G_CALLBACK(OnLoadChanged), this));
  signalIds_.push_back(
      g_signal_connect(view_.get(), "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this));
  if (kind == Kind::Results) {
    signalIds_.push_back(g_signal_connect(view_.get(), "load-failed", G_CALLBACK(OnLoadFailed), this));
    signalIds_.push_back(g_signal_connect(view_.get(), "notify::is-web-process-responsive",
                                          G_CALLBACK(OnResponsiveChanged), this));
    // Ahead of the page, every real press of a button or key that reaches
    // the view is a new action of the user's; a page's own clicks never are,
    // whatever gesture WebKit lends them.
    GtkEventController* input = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(input, GTK_PHASE_CAPTURE);
    g_signal_connect(input, "event", G_CALLBACK(+[](GtkEventControllerLegacy*, GdkEvent* event, gpointer session) {
      const GdkEventType type = gdk_event_get_event_type(event);
      if (type == GDK_BUTTON_PRESS || type == GDK_KEY_PRESS) static_cast<WebSession*>(session)->GrantAction();
      return FALSE;
    }), &session_);
    gtk_widget_add_controller(GTK_WIDGET(view_.get()), input);
    signalIds_.push_back(g_signal_connect(view_.get(), "context-menu", G_CALLBACK(OnContextMenu), this));
  }
}

WebViewAdapter::~WebViewAdapter() {
  *alive_ = false;
  session_.Forget(this);
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
    LoadFile(utf8);
    return;
  }
  ownLoads_.push_back(utf8);
  webkit_web_view_load_uri(view_.get(), utf8.c_str());
}

void WebViewAdapter::LoadFile(const std::string& path) {
  GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  if (!uri) return;
  shownFile_ = path;
  ownLoads_.emplace_back(uri.get());
  // The start page is HTML whatever the desktop's type database makes of its
  // name: its bytes are loaded with the type given, and its own address as
  // the base, so that its relative links still work.
  GCharPtr contents;
  gsize length = 0;
  if (g_file_get_contents(path.c_str(), reinterpret_cast<gchar**>(&contents), &length, nullptr)) {
    GBytesPtr bytes(g_bytes_new_take(contents.release(), length));
    webkit_web_view_load_bytes(view_.get(), bytes.get(), "text/html", "UTF-8", uri.get());
  } else {
    webkit_web_view_load_uri(view_.get(), uri.get());
  }
}

void WebViewAdapter::ShowFileAgain() {
  if (shownFile_.empty()) return;
  ++restoring_;
  LoadFile(shownFile_);
}

void WebViewAdapter::Open() {
  written_.reset(g_byte_array_new());
  pendingSurrogate_ = 0;
}

void WebViewAdapter::Write(std::u16string_view text) {
  // Converted a slice at a time, so that no piece is ever held twice.
  constexpr size_t kSlice = 64 * 1024;
  std::string utf8;
  do {
    utf8.clear();
    text::AppendAsUtf8(utf8, text.substr(0, kSlice), pendingSurrogate_);
    g_byte_array_append(written_.get(), reinterpret_cast<const guint8*>(utf8.data()), utf8.size());
    text.remove_prefix(std::min(kSlice, text.size()));
  } while (!text.empty());
}

void WebViewAdapter::Close() {
  std::string last;
  text::FinishUtf8(last, pendingSurrogate_);
  g_byte_array_append(written_.get(), reinterpret_cast<const guint8*>(last.data()), last.size());
  blank_ = false;
  // The written bytes become the page itself, without a copy: the one copy
  // of it that the program keeps, to show it again should its process die.
  shownPage_.reset(g_byte_array_free_to_bytes(written_.release()));
  LoadWritten();
}

void WebViewAdapter::LoadWritten() {
  // The length goes with the bytes, so a U+0000 in the page does not end it.
  GBytes* bytes = shownPage_.get();
  ownLoads_.emplace_back("about:blank");
  // The encoding given here is the document's transport encoding, which the
  // HTML parser ranks above a <meta> charset in the page (the page template
  // declares iso-8859-1, which its converted text no longer is). The base
  // stays "about:blank": a page of the site must never get a file: base, from
  // which its scripts could read local files.
  webkit_web_view_load_bytes(view_.get(), bytes, "text/html", "UTF-8", "about:blank");
}

std::optional<std::u16string> WebViewAdapter::FieldValue(const std::u16string& name) {
  if (name != text::FromUtf8(kQueryFieldName)) return std::nullopt;
  return queryField_;
}

bool WebViewAdapter::ShowsProgramsPage() const {
  const char* current = webkit_web_view_get_uri(view_.get());
  return !current || g_str_equal(current, "about:blank");
}

bool WebViewAdapter::ReloadLoadedPage() {
  if (ShowsProgramsPage()) return false;
  ownLoads_.emplace_back(webkit_web_view_get_uri(view_.get()));
  webkit_web_view_reload(view_.get());
  return true;
}

void WebViewAdapter::GoInHistory(int steps) {
  WebKitBackForwardListItem* item =
      webkit_back_forward_list_get_nth_item(webkit_web_view_get_back_forward_list(view_.get()), steps);
  if (!item) return;
  const std::string uri = webkit_back_forward_list_item_get_uri(item);
  writeOnReturn_ = uri == "about:blank" && shownPage_ != nullptr;
  ownLoads_.push_back(uri);
  webkit_web_view_go_to_back_forward_list_item(view_.get(), item);
}

gboolean WebViewAdapter::OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer data) {
  auto* self = static_cast<WebViewAdapter*>(data);
  // The page template switches the menu off; the program does it again, so
  // that it holds for a page whose scripts are off.
  if (self->ShowsProgramsPage()) return TRUE;
  // On a page the view loaded itself the engine's menu stays, less what
  // would open the engine's own windows, inspect, or download past the
  // handling a click gets.
  static constexpr WebKitContextMenuAction kRemoved[] = {
      WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
      WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
      WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT,
      WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,     WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
      WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,   WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK};
  for (GList* item = webkit_context_menu_get_items(menu); item;) {
    GList* next = item->next;
    auto* entry = static_cast<WebKitContextMenuItem*>(item->data);
    if (std::ranges::find(kRemoved, webkit_context_menu_item_get_stock_action(entry)) != std::end(kRemoved))
      webkit_context_menu_remove(menu, entry);
    item = next;
  }
  return FALSE;
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
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
      return self->DecideResponse(decision);
    default:
      return FALSE;
  }
}

bool WebViewAdapter::DecideResponse(WebKitPolicyDecision* decision) {
  auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  if (webkit_response_policy_decision_is_mime_type_supported(response)) return false;
  // What the view cannot show, a .torrent above all, is saved instead; but
  // only for the page itself, never for a frame inside it.
  if (webkit_response_policy_decision_is_main_frame_main_resource(response)) {
    webkit_policy_decision_download(decision);
  } else {
    webkit_policy_decision_ignore(decision);
  }
  return true;
}

bool WebViewAdapter::TakeOwnLoad(const std::string& uri) {
  auto it = std::find(ownLoads_.begin(), ownLoads_.end(), uri);
  if (it == ownLoads_.end()) return false;
  ownLoads_.erase(it);
  return true;
}

void WebViewAdapter::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
  auto* self = static_cast<WebViewAdapter*>(data);
  if (event == WEBKIT_LOAD_FINISHED) self->gestureLoad_ = false;
  if (event == WEBKIT_LOAD_FINISHED && std::exchange(self->writeOnReturn_, false) && self->ShowsProgramsPage()) {
    // Written at the address shown, the page takes the place of the blank one
    // in the same history entry: the entries after it stay.
    self->LoadWritten();
    return;
  }
  // A page that has begun to run is the likeliest to be running now; one
  // whose load still waits on a busy process has not run at all.
  if (event == WEBKIT_LOAD_COMMITTED && self->kind_ == Kind::Results && !std::exchange(self->restoreLoading_, false) &&
      !self->blank_)
    self->session_.NotePageRunning(self);
}

void WebViewAdapter::OnResponsiveChanged(WebKitWebView* view, GParamSpec*, gpointer data) {
  auto* self = static_cast<WebViewAdapter*>(data);
  if (webkit_web_view_get_is_web_process_responsive(view)) {
    self->unresponsive_.reset();
    return;
  }
  // The user did nothing wrong and is asked nothing: a results process that
  // still does not answer a moment later is ended, and every window shows
  // its page again. The moment spares a process that is only slow, parsing
  // a large page.
  if (!self->unresponsive_.get())
    self->unresponsive_ = GSourceId(g_timeout_add(kUnresponsiveGraceMs, +[](gpointer data) {
      auto* self = static_cast<WebViewAdapter*>(data);
      self->unresponsive_.forget();
      if (!webkit_web_view_get_is_web_process_responsive(self->view_.get()))
        self->session_.EndUnresponsive(self->view_.get());
      return G_SOURCE_REMOVE;
    }, self));
}

gboolean WebViewAdapter::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
  auto* self = static_cast<WebViewAdapter*>(data);
  self->gestureLoad_ = false;
  // Only a page the program wrote is kept; a window whose fetch failed stays
  // as it was anyway.
  if (!self->shownPage_) return FALSE;
  ModINET::FetchReport report;
  report.failure = FailureOf(error);
  report.finalUrl = uri ? uri : "";
  const app::WindowNotice notice = app::FetchNotice(app::FetchPurpose::Download, report.finalUrl, &report, false,
                                                    text::ToUtf8(site::SiteBaseUrl()));
  if (notice.state != app::NoticeState::Idle && self->noticeHandler_) self->noticeHandler_(notice);
  // WebKit's own error page would take the place of the results.
  return TRUE;
}

void WebViewAdapter::OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                            gpointer data) {
  auto* self = static_cast<WebViewAdapter*>(data);
  self->gestureLoad_ = false;
  if (self->kind_ == Kind::Main) {
    // The main window's start page comes back as it was first loaded,
    // without counting as a navigation of the user's.
    self->ShowFileAgain();
    return;
  }
  const std::optional<app::PageStop> stop = self->session_.StopFor(reason);
  self->Restore(stop, stop && self->session_.Culprit() == self);
}

void WebViewAdapter::Restore(std::optional<app::PageStop> stop, bool culprit) {
  const char* current = webkit_web_view_get_uri(view_.get());
  const bool written = shownPage_ && (!current || g_str_equal(current, "about:blank"));
  const std::string loaded = !written && current ? current : "";
  if (!written && loaded.empty()) return;
  // A process that crashes again at once is not given this page a third
  // time: the other windows' pages must not go down with it over and over.
  // A page that was stopped cannot do it again, and needs no such rule.
  const gint64 now = g_get_monotonic_time();
  if (!stop) {
    if (lastRestore_ != 0 && now - lastRestore_ < 30 * G_USEC_PER_SEC) return;
    lastRestore_ = now;
  }
  if (culprit) {
    // The page that brought the process down never runs a script again in
    // this window, however often it is shown, so it cannot do it again.
    webkit_settings_set_enable_javascript_markup(webkit_web_view_get_settings(view_.get()), FALSE);
    session_.Forget(this);
    if (noticeHandler_) noticeHandler_(app::StoppedNotice(*stop));
  }
  ++restoring_;
  restoreLoading_ = true;
  if (written) {
    LoadWritten();
  } else {
    ownLoads_.push_back(loaded);
    webkit_web_view_load_uri(view_.get(), loaded.c_str());
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
  const bool ownLoad = !newWindow && TakeOwnLoad(uri);
  // Showing a written page again after its process died is no navigation of
  // the window's logic.
  if (ownLoad && restoring_ > 0) {
    --restoring_;
    webkit_policy_decision_use(decision);
    return true;
  }
  // While a fetch runs no other handler may start: only the program's own
  // loads go ahead, and they need no handler (a results window's blank page).
  if (FetchGate::Instance().Running()) {
    if (ownLoad) {
      webkit_policy_decision_use(decision);
    } else {
      webkit_policy_decision_ignore(decision);
    }
    return true;
  }
  if (kind_ == Kind::Main) {
    DecideMainNavigation(decision, newWindow);
  } else {
    DecideResultsNavigation(decision, newWindow, ownLoad || uri == "about:blank");
  }
  return true;
}

void WebViewAdapter::DecideResultsNavigation(WebKitPolicyDecision* decision, bool newWindow, bool programs) {
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  // A results page comes from a site we do not control: only the user's own
  // click may take it anywhere, and a server's redirect of such a click. The
  // type of navigation is no substitute: a script's a.click() arrives as a
  // clicked link, without a gesture.
  const bool redirect = webkit_navigation_action_is_redirect(action) && gestureLoad_;
  if (!programs && !webkit_navigation_action_is_user_gesture(action) && !redirect) {
    webkit_policy_decision_ignore(decision);
    return;
  }
  // What neither the view nor the magnet handler takes would only replace
  // the page with the engine's error: such a link keeps the page.
  if (!programs) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    GCharPtr scheme(g_uri_parse_scheme(uri));
    const bool taken = scheme && (g_ascii_strcasecmp(scheme.get(), "http") == 0 ||
                                  g_ascii_strcasecmp(scheme.get(), "https") == 0 ||
                                  g_ascii_strcasecmp(scheme.get(), "magnet") == 0);
    if (!taken) {
      webkit_policy_decision_ignore(decision);
      if (scheme && noticeHandler_) noticeHandler_(app::RefusedLinkNotice(scheme.get()));
      return;
    }
  }
  RunHandler(decision, newWindow);
}

void WebViewAdapter::DecideMainNavigation(WebKitPolicyDecision* decision, bool newWindow) {
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
        if (!alive || !*alive || FetchGate::Instance().Running()) {
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
}

void WebViewAdapter::RunHandler(WebKitPolicyDecision* decision, bool newWindow) {
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const std::string uri = webkit_uri_request_get_uri(request);
  const bool gesture = webkit_navigation_action_is_user_gesture(action);

  // The handler may wait for a fetch and open windows; the decision object
  // must outlive it, and so must this adapter, which the handler's window
  // keeps until the program releases it after the fetch.
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
    // Only the user's own click hands an address to another application, and
    // one click hands over one.
    if (!gesture || !session_.SpendAction()) return;
    const Handoff handoff = session_.Launcher().OpenUri(uri);
    if (!handoff.launched) session_.Launcher().Notify(app::MagnetNotice(handoff.error));
    return;
  }
  if (newWindow) {
    // The program opens no windows but its own: a new-window navigation that
    // it lets through is loaded in this view.
    webkit_policy_decision_ignore(decision);
    reissuedUri_ = uri;
    gestureLoad_ = gesture;
    webkit_web_view_load_request(view_.get(), request);
    return;
  }
  gestureLoad_ = gesture;
  webkit_policy_decision_use(decision);
}

}  // namespace quillmere::gtk
