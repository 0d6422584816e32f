// Helpers for driving the real program, whose header comes with them, on the
// GLib main loop.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "SiteServer.h"
#include "gtk/Program.h"
#include "gtk/SiteSetting.h"
#include "net/Site.h"
// After the headers whose names X's macros would take.
#include <gdk/x11/gdkx.h>

namespace quillmere::e2e {

// Runs the main loop until `done` holds or the deadline passes; returns
// whether it held.
inline bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  for (const auto end = std::chrono::steady_clock::now() + deadline; !done();) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Runs the main loop for a while, for things that must not happen.
inline void SpinFor(std::chrono::milliseconds time) { SpinUntil([] { return false; }, time); }

// Runs `script` in the page of `view` and returns its value as text; nullopt
// when it threw or did not answer in time.
inline std::optional<std::string> Eval(WebKitWebView* view, const std::string& script) {
  // Set once the page has answered. It is shared with the callback, which may
  // still come after a call that has given up waiting.
  auto answer = std::make_shared<std::optional<std::optional<std::string>>>();
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        std::unique_ptr<decltype(answer)> shared(static_cast<decltype(answer)*>(data));
        gtk::GErrorPtr error;
        auto value = gtk::GRefPtr<JSCValue>::Adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, error.Out()));
        gtk::GCharPtr text(value && !error ? jsc_value_to_string(value.get()) : nullptr);
        **shared = text ? std::optional<std::string>(text.get()) : std::nullopt;
      },
      new decltype(answer)(answer));
  SpinUntil([&] { return answer->has_value(); }, std::chrono::seconds(20));
  return answer->value_or(std::nullopt);
}

// Waits until `view` has finished loading and `script` answers "true".
inline bool WaitForPage(WebKitWebView* view, const std::string& script,
                        std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  return SpinUntil([&] {
    const bool ready = !webkit_web_view_is_loading(view) && Eval(view, "String(!!(" + script + "))") == "true";
    if (!ready) SpinFor(std::chrono::milliseconds(50));
    return ready;
  }, deadline);
}

// Moves the real pointer to `x`, `y` of `widget`, its middle when they are
// negative, after raising its window, and clicks `button` there unless it is
// 0. False when the widget is not on the screen.
inline bool PointAt(GtkWidget* widget, int button = 0, double x = -1, double y = -1) {
  GtkNative* native = gtk_widget_get_native(widget);
  graphene_point_t at, point = GRAPHENE_POINT_INIT(static_cast<float>(x < 0 ? gtk_widget_get_width(widget) / 2.0 : x),
                                                   static_cast<float>(y < 0 ? gtk_widget_get_height(widget) / 2.0 : y));
  if (!native || !gtk_widget_compute_point(widget, GTK_WIDGET(native), &point, &at)) return false;
  double sx = 0, sy = 0;
  gtk_native_get_surface_transform(native, &sx, &sy);
  const std::string xid = std::to_string(gdk_x11_surface_get_xid(gtk_native_get_surface(native)));
  const std::string command = "xdotool windowraise " + xid + " sleep 0.05 mousemove --window " + xid + " " +
                              std::to_string(static_cast<int>(sx + at.x)) + " " + std::to_string(static_cast<int>(sy + at.y)) +
                              (button ? " click " + std::to_string(button) : "");
  return std::system(command.c_str()) == 0;
}

// Clicks with the real pointer, through the X server, the middle of the
// element that the script expression `element` yields in `view`, after
// raising its window and scrolling the element into sight. Returns the
// element's href (or "clicked" when it has none); "" when there is no such
// element. A click made so carries the user's gesture; a script's does not.
// `button` 3 is the right button.
inline std::string Click(WebKitWebView* view, const std::string& element, int button = 1) {
  const std::optional<std::string> where = Eval(
      view, "(function () { var e = " + element + "; if (!e) return ''; e.scrollIntoView({block: 'center'});"
            // A link that wraps has several boxes, and the middle of all of
            // them together may be no part of it.
            " var r = e.getClientRects()[0] || e.getBoundingClientRect(); return Math.round(r.left + r.width / 2) + ' ' +"
            " Math.round(r.top + r.height / 2) + ' ' + (e.href || 'clicked'); })()");
  std::istringstream in(where.value_or(""));
  double x = 0, y = 0;
  std::string href;
  return in >> x >> y >> href && PointAt(GTK_WIDGET(view), button, x, y) ? href : "";
}


// The private desktop's settings key file, download folder, and the file
// where its recording application notes what it was handed.
inline std::filesystem::path KeyFile() {
  return std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "glib-2.0/settings/keyfile";
}
inline std::filesystem::path Downloads() { return std::getenv("XDG_DOWNLOAD_DIR"); }
inline std::filesystem::path Handed() { return std::filesystem::path(std::getenv("HOME")) / "handed"; }

// Hands what the program gives the desktop on through GIO, on the private
// desktop to its recording application, and keeps the notices as
// "title: body".
struct RecordingLauncher final : gtk::DesktopLauncher {
  gtk::Handoff OpenTorrent(const std::string& path) override { return gio.OpenTorrent(path); }
  gtk::Handoff OpenUri(const std::string& uri) override { return gio.OpenUri(uri); }
  void Notify(const gtk::Notice& notice) override { notices.push_back(notice.title + ": " + notice.body); }
  void OpenFolder(const std::string& folder) override { gio.OpenFolder(folder); }
  gtk::GioLauncher gio{nullptr};
  std::vector<std::string> notices;
};

// The real program, started for each test on the private desktop against the
// stand-in site, with the recorder as its desktop. Its settings come from the
// test's own key file; the fetches of its window logic are recorded.
class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(); }
  void SetUp() override { Start(); }
  void TearDown() override {
    program_.reset();
    setting_.reset();
    std::filesystem::remove(KeyFile());
    site::UseSite(site::DefaultSite());
  }

  // Starts the program, with `site` given for this run, under `app`; returns
  // once the start page and the spare results window are ready.
  void Start(const std::optional<std::string>& site = std::nullopt, GtkApplication* app = nullptr) {
    ASSERT_NE(std::getenv("QUILLMERE_PRIVATE_DESKTOP"), nullptr) << "to be run by private_desktop.sh";
    static const endurance::SiteServer standIn;
    ASSERT_TRUE(standIn.ok()) << "the site's port is taken";
    // Downloads are cleared, and files handed to the desktop's applications.
    std::filesystem::remove_all(Downloads());
    std::filesystem::remove(Handed());
    program_.reset();
    setting_ = std::make_unique<gtk::SiteSetting>(QUILLMERE_PROGRAM_FOLDER,
                                                  site ? site::ParseSiteAddress(*site).address : std::nullopt);
    app::PageFetcher fetch = [this, real = gtk::MakeBackgroundFetcher()](auto&&... a) {
      const auto start = std::chrono::steady_clock::now();
      std::u16string page = real(a...);
      fetches_.push_back({std::chrono::steady_clock::now() - start, !page.empty()});
      return page;
    };
    program_ = std::make_unique<gtk::Program>(app, fetch, QUILLMERE_PROGRAM_FOLDER, desktop_);
    program_->SetLastWindowClosedHandler([this] { lastClosed_ = true; });
    setting_->SetChangedHandler([this] { program_->SiteChanged(); });
    program_->Start();
    ASSERT_TRUE(WaitForPage(MainView(), "document.querySelector('input[name=query]')"));
    ASSERT_TRUE(SpinUntil([this] { return program_->Spare() != nullptr; }));
  }

  WebKitWebView* MainView() { return gtk::Program::ViewOf(program_->Main()->WB()); }
  GtkWindow* MainWindow() { return gtk::Program::WindowOf(program_->Main()->Form()); }
  WebKitWebView* View(size_t i) { return gtk::Program::ViewOf(program_->ResultsWindows().at(i)->WB2()); }
  GtkWindow* Window(size_t i) { return gtk::Program::WindowOf(program_->ResultsWindows().at(i)->Form()); }
  // The text of results window i once the program's page is written into it.
  std::string Text(size_t i) {
    const bool written = WaitForPage(View(i), "document.title === 'Quillmere.'");
    return written ? Eval(View(i), "document.body.innerText").value_or("(threw)") : "(not written)";
  }
  // Waits for results window i to open and answers its caption.
  std::string Caption(size_t i) {
    if (!SpinUntil([&] { return program_->ResultsWindows().size() > i; })) return "(no window)";
    const char* title = gtk_window_get_title(Window(i));
    return title ? title : "";
  }
  // Sends the main window's view to `address` with `query` in the field, as
  // the start page's own script could; answers the caption of window i.
  std::string Search(const std::string& query, const std::string& address, size_t i) {
    Eval(MainView(), "document.querySelector('input[name=query]').value = '" + query + "'; location.href = '" +
                         address + "'; 'ok'");
    return Caption(i);
  }

  struct Fetch {
    std::chrono::steady_clock::duration took;
    bool gotPage;
  };
  RecordingLauncher desktop_;
  std::unique_ptr<gtk::SiteSetting> setting_;
  std::unique_ptr<gtk::Program> program_;
  std::vector<Fetch> fetches_;
  bool lastClosed_ = false;
};

}  // namespace quillmere::e2e
