// The program end to end: the real windows, views and fetcher, in a real
// WebKit under Xvfb, on a private desktop (its own HOME, XDG folders and
// D-Bus, and a recording application as the default for torrents, magnet
// links and every type a hostile page tries, set up by private_desktop.sh),
// against the stand-in site and servers of the test's own on loopback. The
// user's actions are real X input.
#include <gmock/gmock.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "Harness.h"
#include "LoopbackServer.h"
#include "SiteServer.h"
#include "net/Site.h"
#include "text/CodePage.h"
// After the server's header, whose names X's macros would take.
#include <gdk/x11/gdkx.h>

namespace quillmere::e2e {
namespace {

namespace fs = std::filesystem;
using Served = endurance::SiteServer;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// The desktop of the test's own, set up by private_desktop.sh.
fs::path Downloads() { return std::getenv("XDG_DOWNLOAD_DIR"); }
fs::path Handed() { return fs::path(std::getenv("HOME")) / "handed"; }

// The file's bytes; "" when there is no such file.
std::string Slurp(const fs::path& path) {
  return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

std::set<std::string> Saved() {
  std::set<std::string> names;
  std::error_code none;  // no folder yet: nothing saved
  for (const auto& entry : fs::directory_iterator(Downloads(), none)) names.insert(entry.path().filename());
  return names;
}

// A search address at the site the program was built for.
std::string AtSite(const std::string& query) {
  return text::ToUtf8(site::SiteBaseUrl) + "search.asp?query=" + query + "&mode=search";
}

const std::string kMagnet = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=caf";
const std::string kTorrent = "d8:announce25:http://127.0.0.1:1/announce4:infod6:lengthi1e4:name1:x"
                             "12:piece lengthi16384e6:pieces20:aaaaaaaaaaaaaaaaaaaaee";
// A results page in windows-1252 as the site sends it, with names beyond
// ASCII and a NUL inside the table.
const std::string kOwnPage =
    "<html><body><table><tr><td>Torrent Name</td><td>Size</td></tr><tr><td>"
    "<a href=\"search.asp?mode=torrentdetails&id=1\">Caf\xe9 \x80 Ol\xe9</a></td><td>1 MB</td></tr>"
    "<tr><td>before\0after-nul</td></tr></table></body></html>"s;

// Mounts the hostile page, hostile.html, and its downloads on `server`;
// counts requests for anything the page tries by itself.
void MountHostile(httplib::Server& server, std::atomic<int>& evil) {
  server.Get("/search.asp", [](const httplib::Request& req, httplib::Response& res) {
    std::string page = Slurp(fs::path(__FILE__).parent_path() / "hostile.html");
    for (size_t at; (at = page.find('@')) != std::string::npos;)
      page.replace(at, 1, "http://127.0.0.1:" + req.get_header_value("Host").substr(10));
    res.set_content(page, "text/html");
  });
  server.Get("/(evil.*|popup)", [&evil](const httplib::Request&, httplib::Response& res) {
    ++evil;
    res.set_header("Content-Disposition", "attachment; filename=\"evil\"");
    res.set_content("#!/bin/sh\n", "application/octet-stream");
  });
  server.Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/t/moved"); });
  server.Get("/t/(.*)", [](const httplib::Request& req, httplib::Response& res) {
    const std::string what = req.matches[1];
    std::string name = what == "long" ? std::string(300, 'a') + ".torrent" : what + ".torrent";
    std::string body = kTorrent, type = "application/x-bittorrent";
    if (what == "notes") name = "notes.sh", body = "#!/bin/sh\necho hi\n", type = "application/x-sh";
    if (what == "disguised") name = "x.desktop", body = "[Desktop Entry]\nType=Application\nName=x\nExec=true\n";
    res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    res.set_content(body, type);
  });
}

// A site that answers with kOwnPage after `delay`, or never when it is
// negative; `closed` tells when the program has closed the connection.
struct SlowSite {
  explicit SlowSite(std::chrono::milliseconds delay)
      : server([this, delay](LoopbackServer& s) {
          s.ReadRequest();
          if (delay.count() < 0 || !s.Pause(delay)) return void(closed = s.ReadRequest(true).empty());
          s.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(kOwnPage.size()) +
                 "\r\nConnection: close\r\n\r\n" + kOwnPage);
        }) {}
  std::string Url() const { return server.Url("/search.asp?query=slow&mode=search"); }
  std::atomic<bool> closed{false};
  LoopbackServer server;
};

unsigned long Xid(GtkWindow* window) { return gdk_x11_surface_get_xid(gtk_native_get_surface(GTK_NATIVE(window))); }

// Runs `what` after `delay`, from the main loop, so that it happens while a
// fetch waits.
void Later(std::chrono::milliseconds delay, std::function<void()> what) {
  auto* task = new std::function<void()>(std::move(what));
  g_timeout_add(static_cast<guint>(delay.count()), +[](gpointer data) {
    std::unique_ptr<std::function<void()>> task(static_cast<std::function<void()>*>(data));
    (*task)();
    return G_SOURCE_REMOVE;
  }, task);
}

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(); }

  void SetUp() override {
    // Downloads are cleared, and files handed to the desktop's applications.
    ASSERT_NE(std::getenv("QUILLMERE_PRIVATE_DESKTOP"), nullptr) << "to be run by private_desktop.sh";
    static const Served site;
    ASSERT_TRUE(site.ok()) << "the site's port is taken";
    fs::remove_all(Downloads());
    fs::remove(Handed());
    app::PageFetcher fetch = [this, real = gtk::MakeBlockingFetcher()](auto&&... a) {
      // The pointer that the user sees while the fetch waits.
      GdkCursor* cursor = program_->Main() ? gtk_widget_get_cursor(GTK_WIDGET(MainWindow())) : nullptr;
      cursors_.push_back(cursor ? gdk_cursor_get_name(cursor) : "none");
      const auto start = Clock::now();
      std::u16string page = real(a...);
      fetches_.push_back({Clock::now() - start, !page.empty()});
      return page;
    };
    program_ = std::make_unique<gtk::Program>(nullptr, fetch, QUILLMERE_PROGRAM_FOLDER, desktop_);
    program_->SetLastWindowClosedHandler([this] { lastClosed_ = true; });
    program_->Start();
    ASSERT_TRUE(WaitForPage(MainView(), "document.querySelector('input[name=query]')"));
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
  // The width and height of results window i's view, once it has them.
  bool ViewSized(size_t i, int width, int height) {
    GtkWidget* view = GTK_WIDGET(View(i));
    return SpinUntil([&] { return gtk_widget_get_width(view) == width && gtk_widget_get_height(view) == height; });
  }

  struct Fetch {
    Clock::duration took;
    bool gotPage;
  };
  RecordingLauncher desktop_;
  std::unique_ptr<gtk::Program> program_;
  std::vector<std::string> cursors_;
  std::vector<Fetch> fetches_;
  bool lastClosed_ = false;
};

TEST_F(ProgramTest, TypedSearchFeedsItsWindowItsLinksAndItsClosing) {
  gtk_window_present(MainWindow());
  SpinFor(500ms);
  ASSERT_EQ(std::system("xdotool type --delay 30 Nosferatu && xdotool key Return"), 0);
  ASSERT_EQ(Caption(0), "Quillmere: Nosferatu");
  EXPECT_THAT(Text(0), HasSubstr("Eine Symphonie des Grauens"));
  // 10515 x 7200 twips less 80 x 320, at the top left of the window's content.
  EXPECT_TRUE(ViewSized(0, 696, 459));
  graphene_point_t at = GRAPHENE_POINT_INIT(-1, -1), zero = GRAPHENE_POINT_INIT(0, 0);
  GtkWidget* view = GTK_WIDGET(View(0));
  EXPECT_TRUE(gtk_widget_compute_point(view, gtk_widget_get_parent(view), &zero, &at) && at.x == 0 && at.y == 0);
  ASSERT_THAT(Click(View(0), "document.querySelector('a[href*=\"directory.asp\"]')"), HasSubstr("directory.asp"));
  EXPECT_EQ(Caption(1), "Quillmere: Directory");
  EXPECT_THAT(Text(1), HasSubstr("Torrent Name"));
  // The search shows the wait pointer while it fetches; following a link
  // leaves the pointer alone.
  EXPECT_THAT(cursors_, ElementsAre("wait", "none"));

  // Closing the main window leaves the program running with the one results
  // window left; closing that ends it.
  gtk_window_close(Window(1));
  gtk_window_close(MainWindow());
  ASSERT_TRUE(SpinUntil([&] { return program_->Main() == nullptr && program_->ResultsWindows().size() == 1; }));
  EXPECT_FALSE(lastClosed_);
  gtk_window_close(Window(0));
  EXPECT_TRUE(SpinUntil([&] { return lastClosed_; }));
}

TEST_F(ProgramTest, HostilePageOpensNothingByItselfAndTheUsersClicksStillWork) {
  std::atomic<int> evil = 0;
  Served hostile(0, [&](auto& s) { MountHostile(s, evil); });
  const std::string base = "http://127.0.0.1:" + std::to_string(hostile.port());
  // The windows on the screen: the spare results window is hidden.
  const auto shown = [list = gtk_window_get_toplevels()] {
    guint n = 0;
    for (guint i = 0; i < g_list_model_get_n_items(list); ++i)
      n += gtk_widget_get_visible(GTK_WIDGET(gtk::GRefPtr<GObject>::Adopt(G_OBJECT(g_list_model_get_item(list, i))).get()));
    return n;
  };
  const guint onScreen = shown();
  EXPECT_EQ(Search("hostile", base + "/search.asp?query=hostile", 0), "Quillmere: hostile");
  EXPECT_THAT(Text(0), HasSubstr("torrent"));
  SpinFor(2500ms);
  EXPECT_EQ(program_->ResultsWindows().size(), 1u) << "a page script opened results windows";
  EXPECT_EQ(shown(), onScreen + 1) << "a dialog or window appeared";
  EXPECT_EQ(evil.load(), 0) << "a page script reached the server";
  EXPECT_THAT(Saved(), IsEmpty());
  EXPECT_EQ(Slurp(Handed()), "");
  EXPECT_THAT(desktop_.notices, IsEmpty());
  EXPECT_EQ(Eval(View(0), "document.title"), "Quillmere.");

  // The user's own clicks: a torrent is saved and handed over, and again
  // under a numbered name, not written over; a non-torrent and a torrent
  // disguised as a desktop file are saved and not opened; a name too long for
  // the temporary file WebKit writes first is shortened; a server's redirect
  // of the user's click is still the user's.
  for (const char* id : {"torrent", "torrent", "notes", "disguised", "long", "redirect"}) {
    const size_t before = desktop_.notices.size();
    ASSERT_FALSE(Click(View(0), "document.getElementById('"s + id + "')").empty()) << id;
    ASSERT_TRUE(SpinUntil([&] { return desktop_.notices.size() > before; })) << id << " was not saved";
  }
  // 244 bytes: with ".wkdownload" after it, the longest name Linux takes.
  EXPECT_THAT(Saved(), ElementsAre(std::string(236, 'a') + ".torrent", "good (1).torrent", "good.torrent",
                                   "moved.torrent", "notes.sh", "x.desktop"));
  for (const char* name : {"good.torrent", "good (1).torrent"}) EXPECT_EQ(Slurp(Downloads() / name), kTorrent);
  const auto opened = HasSubstr("Torrent saved and opened"), saved = HasSubstr("Download saved");
  EXPECT_THAT(desktop_.notices, ElementsAre("Torrent saved and opened: good.torrent is in " + Downloads().string(),
                                            opened, saved, saved, opened, opened));
  ASSERT_TRUE(SpinUntil([&] {
    const std::string text = Slurp(Handed());
    return std::count(text.begin(), text.end(), '\n') == 4;
  })) << Slurp(Handed());
  const std::string handed = Slurp(Handed());
  EXPECT_THAT(handed, AllOf(HasSubstr("/good.torrent\n"), HasSubstr("/good (1).torrent\n"), HasSubstr("aaaa.torrent\n"),
                            HasSubstr("/moved.torrent\n")));
  // A clicked magnet link goes to the desktop's handler unchanged, and the
  // window stays on its page.
  ASSERT_EQ(Click(View(0), "document.getElementById('magnet')"), kMagnet);
  EXPECT_TRUE(SpinUntil([&] { return Slurp(Handed()) == handed + kMagnet + "\n"; }));
  SpinFor(500ms);
  EXPECT_EQ(Eval(View(0), "document.title"), "Quillmere.");

  // When the results web process dies, the page comes back, and searching
  // goes on.
  webkit_web_view_terminate_web_process(View(0));
  SpinFor(500ms);
  EXPECT_THAT(Text(0), HasSubstr("disguised"));
  EXPECT_EQ(Search("again", base + "/search.asp?query=again", 1), "Quillmere: again");
  EXPECT_THAT(Text(1), HasSubstr("torrent"));
}

TEST_F(ProgramTest, WindowsLiveThroughASlowFetchAndTakeNoInputMeanwhile) {
  SlowSite slow(3s);
  gtk_window_present(MainWindow());
  SpinFor(300ms);
  // The main loop, which paints the windows and answers the desktop, runs
  // on while the fetch waits: a tick every 100 ms, none of them held up.
  std::vector<Clock::time_point> ticks;
  const guint ticking = g_timeout_add(100, +[](gpointer t) -> gboolean {
    static_cast<std::vector<Clock::time_point>*>(t)->push_back(Clock::now());
    return G_SOURCE_CONTINUE;
  }, &ticks);
  // Keys typed into the main window during the fetch, a search among them,
  // are dropped, not replayed afterwards.
  Later(500ms, [main = Xid(MainWindow())] {
    g_spawn_command_line_async(("xdotool windowfocus " + std::to_string(main) + " type --delay 10 zz").c_str(), nullptr);
  });
  Later(900ms, [] { g_spawn_command_line_async("xdotool key Return", nullptr); });
  EXPECT_EQ(Search("slow", slow.Url(), 0), "Quillmere: slow");
  ASSERT_TRUE(SpinUntil([&] { return fetches_.size() == 1; }));
  g_source_remove(ticking);
  EXPECT_TRUE(fetches_[0].gotPage);
  Clock::duration longest{};
  for (size_t i = 1; i < ticks.size(); ++i) longest = std::max(longest, ticks[i] - ticks[i - 1]);
  EXPECT_GE(ticks.size(), 25u);
  // A frozen loop would wait out the fetch, 3 s. The goal is 100 ms; the
  // bound leaves room for a loaded machine.
  EXPECT_LT(longest, 1000ms);
  EXPECT_THAT(cursors_, ElementsAre("wait"));
  EXPECT_THAT(Text(0), HasSubstr("after-nul"));
  SpinFor(1s);
  EXPECT_EQ(program_->ResultsWindows().size(), 1u);
  EXPECT_EQ(Eval(MainView(), "document.querySelector('input[name=query]').value"), "slow");
}

TEST_F(ProgramTest, FailedOrGivenUpFetchesLeaveABlankWindowAndTheNextSearchStillWorks) {
  const auto blank = [this](size_t i) {
    return WaitForPage(View(i), "location.href + '|' + document.body.innerHTML === 'about:blank|'") &&
           gtk_widget_get_cursor(GTK_WIDGET(MainWindow())) == nullptr;
  };
  // A server that has just stopped: its port refuses the fetch.
  const std::string gone = "http://127.0.0.1:" + std::to_string(Served(0, [](auto&) {}).port()) + "/search.asp";
  EXPECT_EQ(Search("gone", gone, 0), "Quillmere: gone");
  SpinFor(300ms);
  EXPECT_TRUE(blank(0));

  // A search at a site that never answers, given up by `giveUp` 400 ms into
  // the fetch, which must then end without a page and close its connection.
  const auto search = [this](const std::string& query, size_t window, std::function<void()> giveUp) {
    SlowSite never(-1ms);
    const size_t before = fetches_.size();
    Later(400ms, std::move(giveUp));
    EXPECT_EQ(Search(query, never.Url(), window), "Quillmere: " + query);
    ASSERT_TRUE(SpinUntil([&] { return fetches_.size() == before + 1; }, 10s)) << query;
    EXPECT_FALSE(fetches_.back().gotPage) << query;
    EXPECT_LT(fetches_.back().took, 5s) << query;
    EXPECT_TRUE(SpinUntil([&] { return never.closed.load(); }, 2s)) << query;
  };
  const auto escape = [](GtkWindow* window) {
    g_spawn_command_line_async(("xdotool windowfocus " + std::to_string(Xid(window)) + " key Escape").c_str(), nullptr);
  };
  search("never", 1, [&] { escape(MainWindow()); });
  EXPECT_TRUE(blank(1));
  search("never again", 2, [&] { escape(Window(2)); });

  // The next search works; names beyond ASCII show, and a NUL in the page
  // does not cut it short.
  SlowSite own(0ms);
  EXPECT_EQ(Search("caf\\u00e9", own.Url(), 3), "Quillmere: caf\xc3\xa9");
  EXPECT_THAT(Text(3), AllOf(HasSubstr("Caf\xc3\xa9 \xe2\x82\xac Ol\xc3\xa9"), HasSubstr("after-nul")));

  search("closed", 4, [&] { gtk_window_close(Window(4)); });
  EXPECT_TRUE(SpinUntil([&] { return program_->ResultsWindows().size() == 4; }));
  // Closing the main window closes it alone: the results windows stay, and the program with them.
  search("main closed", 4, [&] { gtk_window_close(MainWindow()); });
  EXPECT_TRUE(SpinUntil([&] { return program_->Main() == nullptr; }));
  EXPECT_FALSE(lastClosed_);
  // Quitting from a main window opened again closes every window and ends the program.
  program_->PresentMain();
  ASSERT_TRUE(WaitForPage(MainView(), "document.querySelector('input[name=query]')"));
  search("quit", 5, [&] { program_->CloseAll(); });
  EXPECT_TRUE(SpinUntil([&] { return lastClosed_; }, 10s));
}

// The spare results window, made once the start page has loaded, hidden,
// realised and at "about:blank", goes to the next search as if it were new.
TEST_F(ProgramTest, SearchesTakeTheSpareAsItIsAndMakeDoWithoutOneWhenItIsNotReady) {
  ASSERT_TRUE(SpinUntil([&] { return program_->Spare() != nullptr; }));
  GtkWindow* spare = program_->Spare();
  WebKitWebView* spareView = WEBKIT_WEB_VIEW(gtk_widget_get_first_child(gtk_window_get_child(spare)));
  EXPECT_TRUE(gtk_widget_get_realized(GTK_WIDGET(spare)));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(spare)));
  ASSERT_TRUE(WaitForPage(spareView, "location.href === 'about:blank'"));
  // It goes on the screen once its page has begun to load: shown earlier, its
  // first frame would wait for a page not yet decided on.
  static std::optional<bool> loadingWhenShown;
  g_signal_connect_swapped(spare, "map", G_CALLBACK(+[](WebKitWebView* view) {
    loadingWhenShown = webkit_web_view_is_loading(view);
  }), spareView);
  EXPECT_EQ(Search("debian", AtSite("debian"), 0), "Quillmere: debian");
  EXPECT_EQ(Window(0), spare);
  // Made on the spot while the next spare is not ready, a window is the same.
  EXPECT_EQ(Search("linux", AtSite("linux"), 1), "Quillmere: linux");
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_THAT(Text(i), HasSubstr("Torrent Name")) << i;
    // 10515 x 7200 twips less 80 x 320.
    EXPECT_TRUE(ViewSized(i, 696, 459)) << i;
  }
  EXPECT_EQ(loadingWhenShown, true);

  // No page comes when the fetch fails: the window is shown all the same.
  const std::string gone = "http://127.0.0.1:" + std::to_string(Served(0, [](auto&) {}).port()) + "/search.asp";
  EXPECT_EQ(Search("gone", gone, 2), "Quillmere: gone");
  EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(Window(2))); }, 2s));
}

// The spare joins the application only when a search takes it: before that,
// it would be the window that Ctrl+W closes, and it must go with the last
// window the user sees.
TEST_F(ProgramTest, TheSpareIsNoWindowOfTheApplicationAndGoesWithItsLastWindow) {
  auto app = gtk::GRefPtr<GtkApplication>::Adopt(gtk_application_new("org.quillmere.Test", G_APPLICATION_NON_UNIQUE));
  ASSERT_TRUE(g_application_register(G_APPLICATION(app.get()), nullptr, nullptr));
  program_ = std::make_unique<gtk::Program>(app.get(), gtk::MakeBlockingFetcher(), QUILLMERE_PROGRAM_FOLDER, desktop_);
  program_->Start();
  ASSERT_TRUE(SpinUntil([&] { return program_->Spare() != nullptr; }));
  EXPECT_EQ(g_list_length(gtk_application_get_windows(app.get())), 1u);
  gtk_window_close(MainWindow());
  EXPECT_TRUE(SpinUntil([&] { return program_->Spare() == nullptr; }));
  program_.reset();
}

// GTK answers a layout request at idle. Left pending on the destroyed window
// of a window never shown, it ends the program: a crash, or an X error.
TEST_F(ProgramTest, ASpareClosedWithItsLayoutStillPendingLeavesNoTaskForItsDeadWindow) {
  ASSERT_TRUE(SpinUntil([&] { return program_->Spare() != nullptr; }));
  GdkDisplay* display = gdk_display_get_default();
  gdk_x11_display_error_trap_push(display);
  gtk_widget_queue_resize(GTK_WIDGET(program_->Spare()));
  program_.reset();
  SpinFor(300ms);
  EXPECT_EQ(gdk_x11_display_error_trap_pop(display), 0) << "an X error on the spare's destroyed window";
}

}  // namespace
}  // namespace quillmere::e2e
