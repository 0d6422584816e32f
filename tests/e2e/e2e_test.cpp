// The program end to end: the real windows, views and fetcher, in a real
// WebKit under Xvfb, on a private desktop (its own HOME, XDG folders and
// D-Bus, and a recording application as the default for torrents, magnet
// links and every type a hostile page tries, set up by private_desktop.sh),
// against the stand-in site and servers of the test's own on loopback. The
// user's actions are real X input.
#include <gmock/gmock.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "Harness.h"
#include "LoopbackServer.h"
#include "ProcessMemory.h"
#include "text/CodePage.h"
// After the server's header, whose names X's macros would take.
#include <X11/Xlib.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/extensions/Xfixes.h>

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

const std::string kMagnet = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=caf";
const std::string kTorrent = "d8:announce25:http://127.0.0.1:1/announce4:infod6:lengthi1e4:name1:x"
                             "12:piece lengthi16384e6:pieces20:aaaaaaaaaaaaaaaaaaaaee";
// A results page in windows-1252 as the site sends it, with names beyond
// ASCII and a NUL inside the table.
const std::string kOwnPage =
    "<html><body><table><tr><td>Torrent Name</td><td>Size</td></tr><tr><td>"
    "<a href=\"search.asp?mode=torrentdetails&id=1\">Caf\xe9 \x80 Ol\xe9</a></td><td>1 MB</td></tr>"
    "<tr><td>before\0after-nul</td></tr></table></body></html>"s;

// A results page of 60 MiB, nearly all of it inside the results table.
const std::string& BigPage() {
  static const std::string page =
      "<table><tr><td>Torrent Name</td></tr><tr><td><!--" + std::string(60 << 20, 'x') + "--></td></tr></table>";
  return page;
}

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
  // A torrent that never ends.
  server.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Content-Disposition", "attachment; filename=\"endless.torrent\"");
    res.set_chunked_content_provider("application/x-bittorrent", [](size_t, httplib::DataSink& sink) {
      static const std::string chunk(1 << 20, 'e');
      return sink.is_writable() && sink.write(chunk.data(), chunk.size());
    });
  });
  server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(BigPage().size(), "text/html", [](size_t offset, size_t length, httplib::DataSink& sink) {
      return sink.write(BigPage().data() + offset, std::min<size_t>(length, 1 << 20));
    });
  });
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
// negative; its server's `finished` counts the connections the program closed.
struct SlowSite {
  explicit SlowSite(std::chrono::milliseconds delay)
      : server([delay](LoopbackServer& s) {
          s.ReadRequest();
          if (delay.count() < 0 || !s.Pause(delay)) return void(s.ReadRequest(true));
          s.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(kOwnPage.size()) +
                 "\r\nConnection: close\r\n\r\n" + kOwnPage);
        }) {}
  std::string Url() const { return server.Url("/search.asp?query=slow&mode=search"); }
  LoopbackServer server;
};

unsigned long Xid(GtkWindow* window) { return gdk_x11_surface_get_xid(gtk_native_get_surface(GTK_NATIVE(window))); }

// Runs `what` after `delay`, from the main loop, so that it happens while a
// fetch waits.
void Later(std::chrono::milliseconds delay, std::function<void()> what) {
  g_timeout_add_once(static_cast<guint>(delay.count()), +[](gpointer data) {
    std::unique_ptr<std::function<void()>>(static_cast<std::function<void()>*>(data))->operator()();
  }, new std::function<void()>(std::move(what)));
}

// The name of the pointer that the X server shows now. An animated pointer's
// frames have none: it is named after the theme's cursor it is a frame of.
std::string XPointer() {
  Display* display = XOpenDisplay(nullptr);
  XFixesCursorImage* image = XFixesGetCursorImage(display);
  std::string name = image->name;
  for (const char* animated : {"wait", "progress"}) {
    XcursorImages* frames = name.empty() ? XcursorLibraryLoadImages(animated, nullptr, image->height) : nullptr;
    for (int f = 0; frames && f < frames->nimage; ++f) {
      const XcursorImage* frame = frames->images[f];
      // libXfixes widens each pixel with its sign.
      if (frame->width == image->width && frame->height == image->height &&
          std::equal(frame->pixels, frame->pixels + frame->width * frame->height, image->pixels,
                     [](XcursorPixel a, unsigned long b) { return a == static_cast<XcursorPixel>(b); }))
        name = animated;
    }
    if (frames) XcursorImagesDestroy(frames);
  }
  XFree(image);
  XCloseDisplay(display);
  return name;
}

// The host and port, and the address, of a server on loopback at `port`.
std::string Host(int port) { return "127.0.0.1:" + std::to_string(port); }
std::string Local(int port) { return "http://" + Host(port); }

class ProgramTest : public e2e::ProgramTest {
 protected:
  gtk::WindowAdapter::NoticeParts Parts(size_t i) {
    return static_cast<gtk::WindowAdapter&>(program_->ResultsWindows().at(i)->Form()).NoticeWidgets();
  }
  // What the notice of results window i says; "" while it says nothing.
  std::string Notice(size_t i) { return gtk_widget_get_visible(Parts(i).box) ? gtk_label_get_text(GTK_LABEL(Parts(i).label)) : ""; }
  // The width and height of results window i's view, once it has them.
  bool ViewSized(size_t i, int width, int height) {
    GtkWidget* view = GTK_WIDGET(View(i));
    return SpinUntil([&] { return gtk_widget_get_width(view) == width && gtk_widget_get_height(view) == height; });
  }
};

TEST_F(ProgramTest, TypedSearchFeedsItsWindowItsLinksAndItsClosing) {
  gtk_window_present(MainWindow());
  SpinFor(500ms);
  ASSERT_EQ(std::system("xdotool type --delay 30 Nosferatu && xdotool key Return"), 0);
  ASSERT_EQ(Caption(0), "Quillmere: Nosferatu");
  EXPECT_THAT(Text(0), HasSubstr("Eine Symphonie des Grauens"));
  ASSERT_THAT(Click(View(0), "document.querySelector('a[href*=\"directory.asp\"]')"), HasSubstr("directory.asp"));
  EXPECT_EQ(Caption(1), "Quillmere: Directory");
  EXPECT_THAT(Text(1), HasSubstr("Torrent Name"));

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
  // A clicked magnet link goes to the desktop's handler unchanged; when the
  // page answers a click by clicking twenty magnet links itself, the first
  // goes and the user is told of the rest. A link of a scheme that nobody
  // handles is refused. The window stays on its page.
  ASSERT_EQ(Click(View(0), "document.getElementById('magnet')"), kMagnet);
  EXPECT_TRUE(SpinUntil([&] { return Slurp(Handed()) == handed + kMagnet + "\n"; }));
  ASSERT_EQ(Click(View(0), "document.getElementById('flood')"), "clicked");
  const std::string refused = "Links refused: The page tried to open 19 more links; they were refused.";
  EXPECT_TRUE(SpinUntil([&] { return desktop_.notices.back() == refused; })) << desktop_.notices.back();
  EXPECT_EQ(Slurp(Handed()), handed + kMagnet + "\nmagnet:?xt=urn:btih:flood0\n");
  ASSERT_EQ(Click(View(0), "document.getElementById('smb')"), "smb://127.0.0.1/share");
  SpinFor(500ms);
  EXPECT_EQ(Eval(View(0), "document.title + location.href"), "Quillmere.about:blank");
  EXPECT_EQ(Notice(0), "The link was not followed: nothing here opens smb: links.");

  // A site link with a query of 100,000 characters gives a window whose
  // title the desktop can draw.
  Eval(View(0), "var a = document.createElement('a'); a.id = 'long'; a.textContent = 'long query'; a.href = '" +
                    text::ToUtf8(site::SiteBaseUrl()) + "search.asp?query=" + std::string(100000, 'q') + "'; document.body.prepend(a)");
  ASSERT_FALSE(Click(View(0), "document.getElementById('long')").empty());
  EXPECT_EQ(Caption(1), "Quillmere: " + std::string(189, 'q') + "\u2026");

  EXPECT_EQ(Search("again", base + "/search.asp?query=again", 2), "Quillmere: again");
  EXPECT_THAT(Text(2), HasSubstr("torrent"));

  // An endless torrent goes on after its window has closed, stops at the
  // cap and leaves nothing behind; nothing is handed over. The click waits
  // until the page's own navigations, which would supersede it, have ended.
  const std::set<std::string> files = Saved();
  SpinFor(2500ms);
  ASSERT_FALSE(Click(View(2), "document.getElementById('endless')").empty());
  ASSERT_TRUE(SpinUntil([&] { return Saved().size() > files.size(); }));
  gtk_window_close(Window(2));
  const std::string stopped = "Download stopped: Stopped at 100 MiB: a torrent file is never that large.";
  EXPECT_TRUE(SpinUntil([&] { return desktop_.notices.back() == stopped; }, 120s)) << desktop_.notices.back();
  EXPECT_EQ(Saved(), files);
  EXPECT_EQ(Slurp(Handed()), handed + kMagnet + "\nmagnet:?xt=urn:btih:flood0\n");

  // A link that names a marker on another server is the view's: the program
  // fetches nothing there, and nothing that the page stores is kept on disk.
  std::atomic<int> requests = 0, ours = 0;
  Served other(0, [&](httplib::Server& server) {
    server.Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
      ++requests, ours += req.get_header_value("User-Agent").find("MSIE") != std::string::npos;
      res.set_content("<script>localStorage.setItem('k', 'v'); indexedDB.open('d'); document.cookie = 'c=1';"
                      "document.title = 'stored';</script>", "text/html");
    });
  });
  const std::string elsewhere = Local(other.port()) + "/api?x=search.asp&q=1";
  Eval(View(0), "document.getElementById('long').href = '" + elsewhere + "'");
  ASSERT_EQ(Click(View(0), "document.getElementById('long')"), elsewhere);
  EXPECT_TRUE(WaitForPage(View(0), "document.title === 'stored'"));
  SpinFor(2s);
  EXPECT_EQ(ours.load(), 0);
  EXPECT_GE(requests.load(), 1);
  EXPECT_EQ(program_->ResultsWindows().size(), 2u);
  for (const auto& entry : fs::recursive_directory_iterator(std::getenv("QUILLMERE_PRIVATE_DESKTOP")))
    EXPECT_THAT(entry.path().string(), ::testing::Not(::testing::ContainsRegex("([Ss]torage|[Ii]ndexed[Dd][Bb]|[Cc]ookies|[Ww]eb[Kk]it[Cc]ache)")));

  // Three results pages of 60 MiB each cost the program's own process about
  // their size once, the page kept to show it again, and what WebKit keeps of
  // it; without the bound each cost seven times as much.
  BigPage();
  const auto own = [] { return endurance::MeasureTree(getpid()).at(0).pssKib / 1024; };
  const long before = own();
  for (size_t i = 2; i < 5; ++i) {
    EXPECT_EQ(Search("big", base + "/big?query=big", i), "Quillmere: big");
    EXPECT_THAT(Text(i), HasSubstr("Torrent Name"));
  }
  EXPECT_LT(own() - before, 3 * 3 * 60);
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
  EXPECT_EQ(Search("caf\\u00e9", slow.Url(), 0), "Quillmere: caf\xc3\xa9");
  ASSERT_TRUE(SpinUntil([&] { return fetches_.size() == 1; }));
  g_source_remove(ticking);
  EXPECT_TRUE(fetches_[0].gotPage);
  Clock::duration longest{};
  for (size_t i = 1; i < ticks.size(); ++i) longest = std::max(longest, ticks[i] - ticks[i - 1]);
  EXPECT_GE(ticks.size(), 25u);
  // A frozen loop would wait out the fetch, 3 s. The goal is 100 ms; the
  // bound leaves room for a loaded machine.
  EXPECT_LT(longest, 1000ms);
  // Names beyond ASCII show, and a NUL in the page does not cut it short.
  EXPECT_THAT(Text(0), AllOf(HasSubstr("Caf\xc3\xa9 \xe2\x82\xac Ol\xc3\xa9"), HasSubstr("after-nul")));
  SpinFor(1s);
  EXPECT_EQ(program_->ResultsWindows().size(), 1u);
  EXPECT_EQ(Eval(MainView(), "document.querySelector('input[name=query]').value"), "caf\xc3\xa9");
}

// The largest of the program's web processes: the results' one whenever a
// page runs away.
endurance::ProcessMemory ResultsProcess() {
  endurance::ProcessMemory largest;
  for (const auto& p : endurance::MeasureTree(getpid()))
    if (p.name.starts_with("WebKitWeb") && p.pssKib >= largest.pssKib) largest = p;
  return largest;
}

TEST_F(ProgramTest, RunawayPagesAreStoppedAndEveryWindowComesBackWithoutThem) {
  const std::map<std::string, std::string> scripts = {
      {"plain", ""},
      {"hog", "var a = []; setInterval(function () { var b = new Array(5242880);"
              " for (var i = 0; i < b.length; i++) b[i] = i; a.push(b); }, 50);"},
      {"busy", "setTimeout(function () { for (;;) {} }, 100);"}};
  Served site(0, [&](httplib::Server& s) {
    s.Get("/search.asp", [&](const httplib::Request& req, httplib::Response& res) {
      const std::string query = req.get_param_value("query");
      res.set_content("<table><tr><td>Torrent Name</td></tr><tr><td>" + query + " row<script>" +
                          scripts.at(query.substr(0, query.find(' '))) + "</script></td></tr></table>",
                      "text/html");
    });
  });
  const auto search = [&](const std::string& query, size_t i) {
    Search(query, Local(site.port()) + "/search.asp?query=" + query, i);
    return Text(i);
  };
  ASSERT_THAT(search("plain", 0), HasSubstr("plain row"));
  int ended = 0;
  g_signal_connect_swapped(View(0), "web-process-terminated", G_CALLBACK(+[](int* n) { ++*n; }), &ended);

  ASSERT_THAT(search("hog", 1), HasSubstr("hog row"));
  long peak = 0;
  for (const auto until = Clock::now() + 60s; !ended && Clock::now() < until && peak < 4096; SpinFor(500ms))
    peak = std::max(peak, ResultsProcess().pssKib / 1024);
  ASSERT_EQ(ended, 1) << "the page ran away to " << peak << " MiB";
  EXPECT_LT(peak, 2048);
  const auto hogStopped = Clock::now();
  EXPECT_THAT(Text(0), HasSubstr("plain row"));
  EXPECT_THAT(Text(1), HasSubstr("hog row"));
  EXPECT_EQ(Notice(1), "This page was stopped: it used too much memory.");
  EXPECT_EQ(Notice(0), "");

  // A page that spins holds up every results window; a search made during it
  // still shows its results.
  ASSERT_THAT(search("busy", 2), HasSubstr("busy row"));
  SpinFor(2s);
  Search("plain again", Local(site.port()) + "/search.asp?query=plain%20again", 3);
  EXPECT_TRUE(WaitForPage(View(3), "document.body.innerText.indexOf('plain again row') >= 0", 10s));
  EXPECT_EQ(ended, 2);
  for (size_t i : {0u, 1u, 2u}) EXPECT_THAT(Text(i), HasSubstr(std::vector<std::string>{"plain", "hog", "busy"}[i]));
  EXPECT_EQ(Notice(2), "This page was stopped: it kept the program busy.");

  // Neither culprit runs again: 20 s after the first was stopped, the results
  // process is neither busy nor growing.
  SpinFor(std::chrono::duration_cast<std::chrono::milliseconds>(hogStopped + 20s - Clock::now()));
  const auto before = ResultsProcess();
  SpinFor(2s);
  const auto after = ResultsProcess();
  EXPECT_LT(after.cpuTicks - before.cpuTicks, sysconf(_SC_CLK_TCK)) << "busy for more than half of 2 s";
  EXPECT_LT(after.pssKib / 1024, std::max(before.pssKib / 1024, 300L) + 100);
  EXPECT_EQ(ended, 2);
}

// Each results window says above its page what became of its fetch, readable
// over AT-SPI, and offers a way on; the page itself stays blank, or as the
// window logic wrote it. A fetch given up ends at once, without a page, and
// closes its connection. While the search waits, the X server shows the wait
// pointer over the main window, also when the pointer comes back to it.
TEST_F(ProgramTest, FailedFetchesAreNamedWithAWayOnAndGivenUpOnesLetGo) {
  const std::string gone = Local(Served(0, [](auto&) {}).port());
  SlowSite never(-1ms);
  // Busy first; then the results, whose torrent link goes where nothing answers.
  std::atomic<int> asked = 0;
  Served flaky(0, [&](httplib::Server& s) {
    s.Get("/search.asp", [&](const httplib::Request&, httplib::Response& res) {
      if (asked++ == 0) return void((res.status = 503, res.set_content("<p>Busy</p>", "text/html")));
      res.set_content("<table><tr><td>Torrent Name</td></tr><tr><td><a id=t href='" + gone +
                      "/t.torrent'>get it</a> after-nul</td></tr></table>", "text/html");
    });
  });
  const auto shown = [](GtkWidget* w) { return gtk_widget_get_visible(w) && gtk_widget_get_mapped(w); };
  // A search at the site that never answers, given up by `how` 600 ms into the fetch.
  const auto giveUp = [&](const std::string& query, size_t i, std::function<void()> how) {
    const int closed = never.server.finished;
    const size_t fetched = fetches_.size();
    Later(600ms, std::move(how));
    EXPECT_EQ(Search(query, never.Url(), i), "Quillmere: " + query);
    ASSERT_TRUE(SpinUntil([&] { return never.server.finished > closed && fetches_.size() > fetched; }, 5s)) << query;
    EXPECT_TRUE(!fetches_.back().gotPage && fetches_.back().took < 5s) << query;
  };
  // Below the results windows, which open at 0,0 on a desktop without a
  // window manager.
  ASSERT_EQ(std::system(("xdotool windowmove " + std::to_string(Xid(MainWindow())) + " 0 600").c_str()), 0);
  SpinFor(300ms);
  std::vector<std::string> pointers;
  struct Case {
    std::string query, url;
    std::function<void(size_t)> during;  // 600 ms into the fetch
    std::string notice, page;            // the page's text, blank when empty
    bool siteAddress;
  };
  const Case cases[] = {
      {"gone", gone + "/search.asp", nullptr, "Nothing answers at " + gone.substr(7) + ".", "", true},
      {"stop", never.Url(),
       [&](size_t i) {
         EXPECT_EQ(Notice(i), "Searching 127.0.0.1:" + std::to_string(never.server.port) + "\u2026");
         EXPECT_TRUE(shown(Parts(i).stop));
         // The pointer resting on the main window since before the search,
         // and coming back to it from the results window.
         pointers.push_back(XPointer());
         PointAt(GTK_WIDGET(View(i)));
         SpinFor(300ms);
         PointAt(GTK_WIDGET(MainView()));
         SpinFor(300ms);
         pointers.push_back(XPointer());
         PointAt(Parts(i).stop, 1);
       },
       "The search was stopped.", "", false},
      {"escape", never.Url(),
       [&](size_t i) {
         g_spawn_command_line_async(("xdotool windowfocus " + std::to_string(Xid(Window(i))) + " key Escape").c_str(), nullptr);
       },
       "The search was stopped.", "", false},
      {"busy", Local(flaky.port()) + "/search.asp?query=b&mode=search", nullptr, "The site answered 503 Service Unavailable.",
       "Your search did not result in any matches.", false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    if (c.during) PointAt(GTK_WIDGET(MainView())), SpinFor(300ms);
    if (c.during) giveUp(c.query, i, [&c, i] { c.during(i); });
    else EXPECT_EQ(Search(c.query, c.url, i), "Quillmere: " + c.query);
    EXPECT_TRUE(SpinUntil([&] {
      return Notice(i) == c.notice && shown(Parts(i).label) && shown(Parts(i).tryAgain) && !shown(Parts(i).stop);
    }, 20s)) << c.query << ": " << Notice(i);
    EXPECT_EQ(shown(Parts(i).siteAddress), c.siteAddress) << c.query;
    EXPECT_STREQ(gtk_actionable_get_action_name(GTK_ACTIONABLE(Parts(i).siteAddress)), "app.preferences");
    EXPECT_TRUE(c.page.empty() ? WaitForPage(View(i), "location.href + '|' + document.body.innerHTML === 'about:blank|'")
                               : Text(i) == c.page) << c.query;
  }
  EXPECT_THAT(pointers, ElementsAre("wait", "wait"));
  // Back to the default, which the main window takes from the screen's own.
  PointAt(GTK_WIDGET(MainView()));
  EXPECT_TRUE(SpinUntil([] { return XPointer() == ""; }, 2s)) << XPointer();

  // The notice is an alert whose text assistive technology reads. The reader
  // runs beside the main loop, which answers its questions.
  std::string read;
  std::atomic<bool> done = false;
  std::thread reader([&] {
    FILE* out = popen("/usr/bin/python3 -c \"import pyatspi\n"
                      "def walk(a):\n for c in a:\n  if c.getRole() == pyatspi.ROLE_ALERT: print(c.name)\n  walk(c)\n"
                      "for app in pyatspi.Registry.getDesktop(0): walk(app)\"", "r");
    for (char line[512]; out && fgets(line, sizeof line, out);) read += line;
    if (out) pclose(out);
    done = true;
  });
  EXPECT_TRUE(SpinUntil([&] { return done.load(); }, 30s));
  reader.join();
  EXPECT_THAT(read, HasSubstr("The site answered 503 Service Unavailable."));

  // Try Again once the site is back fetches into the same window and takes
  // the notice away; a click on a link that fails to load keeps the page.
  PointAt(Parts(3).tryAgain, 1);
  EXPECT_TRUE(WaitForPage(View(3), "document.body.innerText.indexOf('after-nul') >= 0"));
  EXPECT_EQ(Notice(3), "");
  EXPECT_EQ(program_->ResultsWindows().size(), 4u);
  ASSERT_FALSE(Click(View(3), "document.getElementById('t')").empty());
  const std::string failed = "The download could not start: Nothing answers at " + gone.substr(7) + ".";
  EXPECT_TRUE(SpinUntil([&] { return Notice(3) == failed; }, 10s)) << Notice(3);
  SpinFor(500ms);
  EXPECT_THAT(Text(3), HasSubstr("after-nul"));

  // Closing the window gives its fetch up. Closing the main window closes it
  // alone: the results windows stay, and the program with them. Quitting from
  // a main window opened again closes every window and ends the program.
  giveUp("closed", 4, [&] { gtk_window_close(Window(4)); });
  EXPECT_TRUE(SpinUntil([&] { return program_->ResultsWindows().size() == 4; }));
  giveUp("main closed", 4, [&] { gtk_window_close(MainWindow()); });
  EXPECT_TRUE(SpinUntil([&] { return program_->Main() == nullptr; }));
  EXPECT_FALSE(lastClosed_);
  program_->PresentMain();
  ASSERT_TRUE(WaitForPage(MainView(), "document.querySelector('input[name=query]')"));
  giveUp("quit", 5, [&] { program_->CloseAll(); });
  EXPECT_TRUE(SpinUntil([&] { return lastClosed_; }, 10s));
}

// A results window with real keys: find, zoom, back to the written page, a
// download from it, reload, and the context menu.
TEST_F(ProgramTest, ResultsWindowFindsZoomsGoesBackAndReloads) {
  std::atomic<int> answers = 0;
  Served site(0, [&](httplib::Server& s) {
    s.Get("/search.asp", [&](const httplib::Request& req, httplib::Response& res) {
      const std::string other = "http://" + req.get_header_value("Host") + "/other";
      res.set_content("<table><tr><td>Torrent Name</td></tr><tr><td>answer " + std::to_string(++answers) +
                          " apple Apple APPLE <a id=other href='" + other + "'>other</a>"
                          " <a id=dl href='download.asp?id=1'>get</a></td></tr></table>", "text/html");
    });
    s.Get("/other", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<a id=back href='/other'>a page the view loads itself</a>", "text/html");
    });
  });
  const std::string search = Local(site.port()) + "/search.asp?query=apple&x";
  ASSERT_EQ(Search("apple", search, 0), "Quillmere: apple");
  ASSERT_THAT(Text(0), HasSubstr("answer 1"));
  const auto keys = [this](const std::string& keys) {
    const std::string command = "xdotool windowfocus --sync " + std::to_string(Xid(Window(0))) + " key --delay 50 " + keys;
    EXPECT_EQ(std::system(command.c_str()), 0) << keys;
  };
  // The find bar's status; "(hidden)" while the bar is closed.
  const auto status = [this] {
    std::function<GtkWidget*(GtkWidget*)> find = [&](GtkWidget* w) {
      GtkWidget* found = g_strcmp0(gtk_widget_get_name(w), "find-status") == 0 ? w : nullptr;
      for (GtkWidget* c = gtk_widget_get_first_child(w); c && !found; c = gtk_widget_get_next_sibling(c)) found = find(c);
      return found;
    };
    GtkWidget* label = find(GTK_WIDGET(Window(0)));
    return label && gtk_widget_get_mapped(label) ? std::string(gtk_label_get_text(GTK_LABEL(label))) : "(hidden)";
  };

  // Find: a count regardless of letter case, next and previous with wrapping, and Escape.
  keys("ctrl+f");
  // As a person would, the typing waits for the bar to have opened.
  SpinFor(300ms);
  ASSERT_EQ(std::system("xdotool type --delay 30 apple"), 0);
  const std::pair<const char*, const char*> finds[] = {
      {"", "1 of 3"}, {"Return", "2 of 3"}, {"ctrl+g", "3 of 3"}, {"ctrl+g", "1 of 3"}, {"shift+Return", "3 of 3"},
      {"ctrl+shift+g", "2 of 3"}, {"ctrl+a x y z", "No match"}, {"Escape", "(hidden)"}};
  for (const auto& [key, shown] : finds) {
    if (*key) keys(key);
    EXPECT_TRUE(SpinUntil([&] { return status() == shown; }, 5s)) << key << ": " << status();
  }

  // Zoom: every results window, the ones opened later too, and kept in the settings.
  const auto zoomed = [this](size_t i, double level) {
    return SpinUntil([&] { return webkit_web_view_get_zoom_level(View(i)) == level; }, 5s);
  };
  keys("ctrl+plus");
  EXPECT_TRUE(zoomed(0, 1.1));
  keys("ctrl+0 ctrl+equal");
  EXPECT_TRUE(zoomed(0, 1.1));
  // The wheel turns where the pointer is: over the page, as a person's would be.
  ASSERT_TRUE(PointAt(GTK_WIDGET(View(0))));
  ASSERT_EQ(std::system("xdotool keydown ctrl click 4 keyup ctrl"), 0);
  EXPECT_TRUE(zoomed(0, 1.25));
  ASSERT_EQ(Search("apple", search, 1), "Quillmere: apple");
  EXPECT_EQ(webkit_web_view_get_zoom_level(View(1)), 1.25);
  g_settings_sync();
  EXPECT_THAT(Slurp(KeyFile()), HasSubstr("zoom=1.25"));
  gtk_window_close(Window(1));
  keys("ctrl+0");
  EXPECT_TRUE(zoomed(0, 1.0));
  // The written page has no context menu; a page the view loaded itself has
  // the engine's, without what opens engine windows, inspects or downloads.
  std::vector<WebKitContextMenuAction> menu;
  g_signal_connect(View(0), "context-menu", G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* m, gpointer, gpointer data) {
    auto* items = static_cast<std::vector<WebKitContextMenuAction>*>(data);
    for (GList* i = webkit_context_menu_get_items(m); i; i = i->next)
      items->push_back(webkit_context_menu_item_get_stock_action(WEBKIT_CONTEXT_MENU_ITEM(i->data)));
    return TRUE;
  }), &menu);
  ASSERT_FALSE(Click(View(0), "document.getElementById('other')", 3).empty());
  SpinFor(500ms);
  EXPECT_THAT(menu, IsEmpty());
  ASSERT_FALSE(Click(View(0), "document.getElementById('other')").empty());
  ASSERT_TRUE(WaitForPage(View(0), "document.getElementById('back')"));
  ASSERT_FALSE(Click(View(0), "document.getElementById('back')", 3).empty());
  ASSERT_TRUE(SpinUntil([&] { return !menu.empty(); }, 5s));
  EXPECT_THAT(menu, ::testing::Contains(WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK));
  for (auto removed : {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW, WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
                       WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT})
    EXPECT_THAT(menu, ::testing::Not(::testing::Contains(removed)));

  // Back: the written page as it was, with no new request, and its download link works.
  keys("Escape alt+Left");
  EXPECT_THAT(Text(0), HasSubstr("answer 1"));
  EXPECT_TRUE(webkit_web_view_can_go_forward(View(0)));
  const size_t notices = desktop_.notices.size();
  ASSERT_FALSE(Click(View(0), "document.getElementById('dl')").empty());
  EXPECT_TRUE(SpinUntil([&] { return desktop_.notices.size() > notices; }));
  // F5 fetches the window's address again and writes the new answer.
  keys("F5");
  EXPECT_TRUE(WaitForPage(View(0), "document.body.innerText.indexOf('answer 3') >= 0", 10s));
  EXPECT_EQ(answers.load(), 3);
}

// The spare results window, made once the start page has loaded, hidden,
// realised and at "about:blank", goes to the next search as if it were new.
TEST_F(ProgramTest, SearchesTakeTheSpareAsItIsAndMakeDoWithoutOneWhenItIsNotReady) {
  ASSERT_TRUE(SpinUntil([&] { return program_->Spare() != nullptr; }));
  GtkWindow* spare = program_->Spare();
  GtkWidget* inside = gtk_window_get_child(spare);
  while (inside && !WEBKIT_IS_WEB_VIEW(inside)) inside = gtk_widget_get_last_child(inside);
  WebKitWebView* spareView = WEBKIT_WEB_VIEW(inside);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(spare)));
  ASSERT_TRUE(WaitForPage(spareView, "location.href === 'about:blank'"));
  // It goes on the screen once its page has begun to load: shown earlier, its
  // first frame would wait for a page not yet decided on.
  static std::optional<bool> loadingWhenShown;
  g_signal_connect_swapped(spare, "map", G_CALLBACK(+[](WebKitWebView* view) {
    loadingWhenShown = webkit_web_view_is_loading(view);
  }), spareView);
  EXPECT_EQ(Search("debian", text::ToUtf8(site::SiteBaseUrl()) + "search.asp?query=debian", 0), "Quillmere: debian");
  EXPECT_EQ(Window(0), spare);
  // Made on the spot while the next spare is not ready, a window is the same.
  EXPECT_EQ(Search("linux", text::ToUtf8(site::SiteBaseUrl()) + "search.asp?query=linux", 1), "Quillmere: linux");
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
  ASSERT_NO_FATAL_FAILURE(Start(std::nullopt, app.get()));
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

// The site in use, end to end: given for one run, and read from the
// settings' key file at start and again when another process writes it (the
// desktop test types one into the Preferences window). Copies of the stand-in
// site answer on ports of their own.
// Writes the key file as another program would.
void StoreInKeyFile(const std::string& address) {
  fs::create_directories(KeyFile().parent_path());
  const std::string text = "[org/quillmere/Quillmere]\nsite='" + address + "'\n";
  ASSERT_TRUE(g_file_set_contents(KeyFile().c_str(), text.c_str(), -1, nullptr));
}

class SiteTest : public ProgramTest {
 protected:
  // Types a search into the start page with real keys, and checks that the
  // results window it opens links its downloads at `port`. Windows open at
  // 0,0 on a bare X server, so the earlier results go first.
  void SearchAt(int port) {
    for (const auto& form : program_->ResultsWindows()) form->Form().Close();
    ASSERT_TRUE(SpinUntil([&] { return program_->ResultsWindows().empty(); }));
    // The start page may be loading again after a change of site.
    ASSERT_TRUE(WaitForPage(MainView(), "document.forms.search.action.indexOf('http://" + Host(port) + "/') === 0"));
    ASSERT_FALSE(Click(MainView(), "document.querySelector('input[name=query]')").empty());
    ASSERT_EQ(std::system("xdotool type --delay 30 debian && xdotool key Return"), 0);
    ASSERT_TRUE(SpinUntil([&] { return !program_->ResultsWindows().empty(); }));
    ASSERT_TRUE(WaitForPage(View(0), "document.title === 'Quillmere.'"));
    EXPECT_THAT(Eval(View(0), "document.querySelector('a[href*=\"download.asp\"]').href").value_or("(none)"),
                ::testing::StartsWith("http://" + Host(port) + "/download.asp?"));
  }
};

TEST_F(SiteTest, TheSiteForOneRunIsUsedAndNotStored) {
  const endurance::SiteServer second(0);
  ASSERT_TRUE(second.ok());
  Start(Host(second.port()));
  ASSERT_NO_FATAL_FAILURE(SearchAt(second.port()));
  EXPECT_FALSE(fs::exists(KeyFile()));
  EXPECT_EQ(setting_->Stored(), site::kDefaultAddress);
}

// The key file is read at start and again when another process writes it. A
// site that sends its searches on to another host is offered there, and
// switched to only on the user's word.
TEST_F(SiteTest, TheKeyFileIsFollowedAndAMovedSiteIsTakenOnlyOnTheUsersWord) {
  const endurance::SiteServer second(0), moved(0);
  const endurance::SiteServer old(0, [&](httplib::Server& s) {
    s.Get("/search.asp", [&](const httplib::Request& req, httplib::Response& res) {
      res.set_redirect("http://" + Host(moved.port()) + req.target, 301);
    });
  });
  ASSERT_TRUE(second.ok() && moved.ok() && old.ok());
  StoreInKeyFile(Host(second.port()));
  Start();
  ASSERT_NO_FATAL_FAILURE(SearchAt(second.port()));
  StoreInKeyFile("http://" + Host(old.port()) + "/");
  ASSERT_TRUE(SpinUntil([&] { return text::ToUtf8(site::SiteHost()) == Host(old.port()); }));
  ASSERT_NO_FATAL_FAILURE(SearchAt(old.port()));
  auto& window = static_cast<gtk::WindowAdapter&>(program_->ResultsWindows()[0]->Form());
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(window.NoticeWidgets().label)), "The site now answers at " + Host(moved.port()) + ".");
  EXPECT_EQ(setting_->Stored(), "http://" + Host(old.port()) + "/");
  auto actions = gtk::GRefPtr<GSimpleActionGroup>::Adopt(g_simple_action_group_new());
  setting_->AddUseSiteAction(G_ACTION_MAP(actions.get()));
  gtk_widget_insert_action_group(GTK_WIDGET(window.Widget()), "app", G_ACTION_GROUP(actions.get()));
  gtk_widget_activate(window.NoticeWidgets().useSite);
  EXPECT_TRUE(SpinUntil([&] { return setting_->Stored() == "http://" + Host(moved.port()); }));
  EXPECT_EQ(text::ToUtf8(site::SiteHost()), Host(moved.port()));
}

}  // namespace
}  // namespace quillmere::e2e
