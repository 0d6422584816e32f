// The program end to end: the real windows, views and fetcher, in a real
// WebKit, against the stand-in site served on the site's own port from a
// thread of this test. Layout and captions are unit-tested elsewhere; here
// the checks are those that only the real toolkit and browser can answer.
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Harness.h"
#include "SiteServer.h"
#include "net/ModINET.h"

namespace quillmere::e2e {
namespace {

namespace fs = std::filesystem;
using Served = endurance::SiteServer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;
using namespace std::string_literals;

fs::path g_downloads;

const std::string kMagnet = "magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=caf";
// A results page in windows-1252 as the site sends it, with names beyond
// ASCII, a NUL inside the table, and a magnet link.
const std::string kOwnPage =
    "<html><body><table><tr><td>Torrent Name</td><td>Size</td></tr><tr><td>"
    "<a href=\"search.asp?mode=torrentdetails&id=1\">Caf\xe9 \x80 Ol\xe9</a></td><td>1 MB</td></tr>"
    "<tr><td>before\0after-nul</td></tr><tr><td><a href=\""s +
    kMagnet + "\">magnet</a></td></tr></table></body></html>";

// Fills in the start page's field without the events that typing raises.
const std::string kFill = "document.querySelector('input[name=query]').value = ";

class ProgramTest : public ::testing::Test {
 protected:
  // GLib reads the environment once; the download folder is set before it.
  static void SetUpTestSuite() {
    static char folder[] = "/tmp/quillmere-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    setenv("XDG_DOWNLOAD_DIR", (g_downloads = fs::path(folder) / "Downloads").c_str(), 1);
    gtk_init();
  }
  static void TearDownTestSuite() { fs::remove_all(g_downloads.parent_path()); }

  void SetUp() override {
    static const Served site;
    ASSERT_TRUE(site.ok()) << "port 8642 is taken";
    app::PageFetcher fetch = [this](auto&&... a) {
      // The pointer that the user sees while the fetch blocks.
      GdkCursor* cursor = program_->Main() ? gtk_widget_get_cursor(GTK_WIDGET(MainWindow())) : nullptr;
      cursors_.push_back(cursor ? gdk_cursor_get_name(cursor) : "none");
      return ModINET::FetchPage(a...);
    };
    program_ = std::make_unique<gtk::Program>(nullptr, fetch, QUILLMERE_PROGRAM_FOLDER, launcher_);
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

  // Runs `script` in `view` and returns the caption of results window i once
  // it has opened.
  std::string Open(WebKitWebView* view, const std::string& script, size_t i) {
    Eval(view, script + "; 'ok'");
    if (!SpinUntil([&] { return program_->ResultsWindows().size() > i; })) return "(no window)";
    const char* title = gtk_window_get_title(Window(i));
    return title ? title : "";
  }

  RecordingLauncher launcher_;
  std::unique_ptr<gtk::Program> program_;
  std::vector<std::string> cursors_;
  bool lastClosed_ = false;
};

TEST_F(ProgramTest, TypedSearchFeedsItsWindowItsLinksAndItsClosing) {
  gtk_window_present(MainWindow());
  SpinFor(500ms);
  ASSERT_EQ(std::system("xdotool type --delay 30 Nosferatu && xdotool key Return"), 0);
  ASSERT_EQ(Open(MainView(), "0", 0), "Quillmere: Nosferatu");
  EXPECT_THAT(Text(0), HasSubstr("Eine Symphonie des Grauens"));
  // 10515 x 7200 twips less 80 x 320, at the top left of the window's content.
  GtkWidget* view = GTK_WIDGET(View(0));
  graphene_point_t at = GRAPHENE_POINT_INIT(-1, -1), zero = GRAPHENE_POINT_INIT(0, 0);
  EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_width(view) == 696 && gtk_widget_get_height(view) == 459; }));
  EXPECT_TRUE(gtk_widget_compute_point(view, gtk_widget_get_parent(view), &zero, &at) && at.x == 0 && at.y == 0);
  EXPECT_EQ(Open(View(0), "document.querySelector('a[href*=\"directory.asp\"]').click()", 1), "Quillmere: Directory");
  EXPECT_THAT(Text(1), HasSubstr("Torrent Name"));
  // The search shows the wait pointer while it fetches; following a link
  // leaves the pointer alone.
  EXPECT_THAT(cursors_, ElementsAre("wait", "none"));

  // Two downloads of the same torrent: the second is not written over the first.
  for (size_t n = 1; n <= 2; ++n) {
    Eval(View(0), "document.querySelector('a[href*=\"download.asp\"]').click(); 'ok'");
    ASSERT_TRUE(SpinUntil([&] { return launcher_.files.size() == n; }));
  }
  const std::string name = fs::path(launcher_.files[0]).stem();
  EXPECT_THAT(launcher_.files, ElementsAre(g_downloads / (name + ".torrent"), g_downloads / (name + " (1).torrent")));
  for (const std::string& f : launcher_.files)
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(f).rdbuf()), {}).substr(0, 11), "d8:announce");

  gtk_window_close(MainWindow());
  ASSERT_TRUE(SpinUntil([&] { return program_->Main() == nullptr; }));
  EXPECT_FALSE(lastClosed_);
  for (const size_t i : {1u, 0u}) gtk_window_close(Window(i));
  EXPECT_TRUE(SpinUntil([&] { return lastClosed_; }));
}

TEST_F(ProgramTest, FailedFetchLeavesABlankWindowAndNonAsciiNamesShow) {
  // A server that has just stopped: its port refuses the fetch.
  const std::string gone = "http://127.0.0.1:" + std::to_string(Served(0, [](auto&) {}).port()) + "/search.asp";
  EXPECT_EQ(Open(MainView(), kFill + "'gone'; location.href = '" + gone + "'", 0), "Quillmere: gone");
  SpinFor(300ms);
  EXPECT_TRUE(WaitForPage(View(0), "location.href + '|' + document.body.innerHTML === 'about:blank|'"));
  EXPECT_EQ(gtk_widget_get_cursor(GTK_WIDGET(MainWindow())), nullptr);

  // The test's own page, served apart so that nothing else that serves on the
  // site's port can answer for it.
  Served own(0, [](auto& s) { s.Get(".*", [](auto&, auto& res) { res.set_content(kOwnPage, "text/html"); }); });
  const std::string address = "http://127.0.0.1:" + std::to_string(own.port()) + "/search.asp?query=caf%C3%A9";
  EXPECT_EQ(Open(MainView(), kFill + "'caf\\u00e9'; location.href = '" + address + "'", 1), "Quillmere: caf\xc3\xa9");
  // A NUL in the page does not cut it short.
  EXPECT_THAT(Text(1), ::testing::AllOf(HasSubstr("Caf\xc3\xa9 \xe2\x82\xac Ol\xc3\xa9"), HasSubstr("after-nul")));
  // A magnet link goes to the desktop's handler unchanged, and the window
  // stays on its page.
  Eval(View(1), "document.querySelector('a[href^=magnet]').click(); 'ok'");
  ASSERT_TRUE(SpinUntil([&] { return !launcher_.uris.empty(); }));
  EXPECT_THAT(launcher_.uris, ElementsAre(kMagnet));
  // A navigation that the view was wrongly let make takes a moment to show.
  SpinFor(500ms);
  EXPECT_EQ(Eval(View(1), "document.title"), "Quillmere.");
}

}  // namespace
}  // namespace quillmere::e2e
