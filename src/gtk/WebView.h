// The browser view on WebKitGTK: navigation, the document writes, the value of
// the start page's search field, and the BeforeNavigate2 event, which is
// WebKit's navigation policy decision.
#pragma once

#include <webkit/webkit.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/FetchNotice.h"
#include "app/Interfaces.h"
#include "gtk/GObjectPtr.h"
#include "gtk/ViewHost.h"
#include "gtk/WebSession.h"

namespace quillmere::gtk {

class WebViewAdapter final : public app::BrowserView {
 public:
  enum class Kind { Main, Results };

  WebViewAdapter(WebSession& session, Kind kind);
  ~WebViewAdapter() override;
  WebViewAdapter(const WebViewAdapter&) = delete;
  WebViewAdapter& operator=(const WebViewAdapter&) = delete;

  WebKitWebView* Widget() const { return view_.get(); }
  // The content area the view is placed in; set once by the window.
  void SetHost(QuillmereViewHost* host) { host_ = host; }
  // Where a results view tells why a load it was left to do failed, a link
  // it did not follow, or that its page was stopped.
  using NoticeHandler = std::function<void(const app::WindowNotice&)>;
  void SetNoticeHandler(NoticeHandler handler) { noticeHandler_ = std::move(handler); }

  void SetBeforeNavigate2Handler(BeforeNavigate2Handler handler) override { handler_ = std::move(handler); }
  void Navigate2(const std::u16string& target) override;
  // Loads the file last loaded (the start page) again, as it was first
  // loaded, without it counting as a navigation of the user's.
  void ShowFileAgain();
  void Open() override;
  void Write(std::u16string_view text) override;
  void Close() override;
  std::optional<std::u16string> FieldValue(const std::u16string& name) override;
  // Whether the page shown is the program's: the page written, or the blank
  // page before it. Any other page the view has loaded itself.
  bool ShowsProgramsPage() const;
  // Reloads a page the view has loaded itself, as the program's own load;
  // returns false, doing nothing, on the program's page.
  bool ReloadLoadedPage();
  // Moves `steps` through the view's own history (-1 back, 1 forward), as the
  // program's own load; the page written comes back as it was written.
  void GoInHistory(int steps);
  void SetTop(float twips) override;
  void SetLeft(float twips) override;
  void SetWidth(float twips) override;
  void SetHeight(float twips) override;

 private:
  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer self);
  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
  static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self);
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self);
  static void OnResponsiveChanged(WebKitWebView* view, GParamSpec*, gpointer self);
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, WebKitHitTestResult*, gpointer self);
  // Shows this results view's page again after its web process ended: the
  // page written, or the address the view had loaded itself; without its
  // scripts when it is the `culprit` of the `stop`.
  void Restore(std::optional<app::PageStop> stop, bool culprit);
  bool DecideNavigation(WebKitPolicyDecision* decision, bool newWindow);
  // The main view reads the start page's search field before its handler
  // runs; a results view lets only the user's own clicks reach its handler.
  // `programs` says that the program itself started the navigation.
  void DecideMainNavigation(WebKitPolicyDecision* decision, bool newWindow);
  void DecideResultsNavigation(WebKitPolicyDecision* decision, bool newWindow, bool programs);
  bool DecideResponse(WebKitPolicyDecision* decision);
  // Whether the navigation is the program's own: a load it started itself.
  bool TakeOwnLoad(const std::string& uri);
  void LoadWritten();
  void LoadFile(const std::string& path);
  void RunHandler(WebKitPolicyDecision* decision, bool newWindow);
  void PlaceView();

  WebSession& session_;
  GRefPtr<WebKitWebView> view_;
  QuillmereViewHost* host_ = nullptr;
  BeforeNavigate2Handler handler_;
  NoticeHandler noticeHandler_;
  std::vector<gulong> signalIds_;
  // The main window's navigations read the page's search field first; a
  // results window's go ahead only with the user's own click.
  Kind kind_;
  // Tells a field read that is still under way whether this adapter lives.
  std::shared_ptr<bool> alive_;

  float top_ = 0, left_ = 0, width_ = 0, height_ = 0;
  // The page being written, in UTF-8, and the first half of a surrogate pair
  // that the last write ended with. The array grows by reallocation, which
  // for a page of megabytes remaps its memory instead of copying it.
  GByteArrayPtr written_;
  char16_t pendingSurrogate_ = 0;
  // The last page written, kept to show it again should its web process die.
  GBytesPtr shownPage_;
  // The file last loaded, the main window's start page.
  std::string shownFile_;
  gint64 lastRestore_ = 0;
  // Loads under way that show a page again; they are no navigation of the
  // window's logic.
  int restoring_ = 0;
  // A restore is under way: its page beginning to run says nothing about
  // which page brought the process down.
  bool restoreLoading_ = false;
  GSourceId unresponsive_;
  // Addresses of loads the program started itself and whose decisions are
  // still to come.
  std::vector<std::string> ownLoads_;
  // A navigation that the user's gesture started is under way: a redirect
  // that the server answers it with is still the user's.
  bool gestureLoad_ = false;
  // The search field as it stood when the navigation being decided began;
  // nullopt when the page has none.
  std::optional<std::u16string> queryField_;
  // A new-window navigation that was let through and is being loaded here;
  // its second policy decision is not raised again.
  std::optional<std::string> reissuedUri_;
  // Whether the view is at "about:blank", sent there by Navigate2, and has
  // been sent nowhere else since.
  bool blank_ = false;
  // History has come back to the page written, which WebKit brings back as a
  // blank page: once that has loaded, the page is written again.
  bool writeOnReturn_ = false;
};

}  // namespace quillmere::gtk
