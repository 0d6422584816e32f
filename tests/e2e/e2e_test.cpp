// The program end to end: the real windows, views and fetcher, in a real
// WebKit, against the stand-in site served on the site's own port from a
// thread of this test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <httplib.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Catalogue.h"
#include "Harness.h"
#include "Server.h"
#include "app/Interfaces.h"
#include "gtk/Program.h"
#include "net/ModINET.h"
#include "text/CodePage.h"

namespace quillmere::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::string g_downloadDir;

// A port on loopback that nothing listens on, for a fetch that must fail.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// A results page in the site's shape, sent in windows-1252 as the site does,
// with names that need more than ASCII, a NUL inside the table, and a magnet
// link.
std::string NonAsciiPage() {
  std::string page =
      "<html><body><table><tr><td>Torrent Name</td><td>Size</td></tr>"
      "<tr><td><a href=\"search.asp?mode=torrentdetails&id=1\">Caf\xe9 \x80 Ol\xe9</a></td><td>1 MB</td></tr>";
  page += std::string("<tr><td>before", 14) + std::string(1, '\0') + "after-nul</td></tr>";
  page +=
      "<tr><td><a id=\"magnet\" href=\"magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=caf\">"
      "magnet</a></td></tr></table></body></html>";
  return page;
}

class RecordingLauncher final : public gtk::DesktopLauncher {
 public:
  void OpenFile(const std::string& path) override { files.push_back(path); }
  void OpenUri(const std::string& uri) override { uris.push_back(uri); }
  std::vector<std::string> files;
  std::vector<std::string> uris;
};

// The stand-in site on the site's port, with a few pages of the test's own.
class SiteServer {
 public:
  SiteServer() : catalogue_(*demosite::Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr)) {
    server_.Get("/e2e/search.asp", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(NonAsciiPage(), "text/html");
    });
    demosite::MountSite(server_, catalogue_, "http://127.0.0.1:8642/announce");
    if (!server_.bind_to_port("127.0.0.1", 8642)) return;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ok_ = true;
  }
  ~SiteServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }

 private:
  demosite::Catalogue catalogue_;
  httplib::Server server_;
  std::thread thread_;
  bool ok_ = false;
};

class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { site_ = new SiteServer(); }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(site_->ok()) << "port 8642 is taken";
    fs::remove_all(g_downloadDir);
    fs::create_directories(g_downloadDir);
    app::PageFetcher fetch = [this](const std::u16string& url, std::u16string& contentType,
                                    const std::u16string& postData, int32_t bufferSize, int32_t mode) {
      // What the user sees while the fetch blocks.
      if (program_ && program_->Main()) {
        GtkWidget* window = GTK_WIDGET(gtk::Program::WindowOf(program_->Main()->Form()));
        GdkCursor* cursor = gtk_widget_get_cursor(window);
        cursorsDuringFetch_.push_back(cursor ? gdk_cursor_get_name(cursor) : "none");
      }
      return ModINET::FetchPage(url, contentType, postData, bufferSize, mode);
    };
    program_ = std::make_unique<gtk::Program>(nullptr, fetch, QUILLMERE_E2E_PROGRAM_FOLDER, launcher_);
    program_->SetLastWindowClosedHandler([this] { lastWindowClosed_ = true; });
    program_->Start();
    ASSERT_TRUE(WaitForPage(MainView(), "document.querySelector('input[name=query]')"));
  }

  void TearDown() override {
    program_.reset();
    SpinFor(std::chrono::milliseconds(100));
  }

  WebKitWebView* MainView() { return gtk::Program::ViewOf(program_->Main()->WB()); }
  GtkWindow* MainWindow() { return gtk::Program::WindowOf(program_->Main()->Form()); }
  WebKitWebView* ResultsView(size_t i) { return gtk::Program::ViewOf(program_->ResultsWindows().at(i)->WB2()); }
  GtkWindow* ResultsWindow(size_t i) {
    return gtk::Program::WindowOf(program_->ResultsWindows().at(i)->Form());
  }
  std::string Title(GtkWindow* window) { return gtk_window_get_title(window) ? gtk_window_get_title(window) : ""; }

  bool WaitForResultsWindows(size_t count) {
    return SpinUntil([&] { return program_->ResultsWindows().size() >= count; });
  }
  // Waits for the written page (or any page matching `script`) in results window i.
  bool WaitForWrittenPage(size_t i, const std::string& script = "document.title === 'Quillmere.'") {
    return WaitForPage(ResultsView(i), script);
  }
  std::string Html(WebKitWebView* view) { return Eval(view, "document.documentElement.outerHTML").value_or(""); }
  std::string BodyText(WebKitWebView* view) { return Eval(view, "document.body.innerText").value_or(""); }

  // Types into the start page's field by script and submits its form.
  void SearchFor(const std::string& query) {
    Eval(MainView(), "var q = document.querySelector('input[name=query]'); q.value = '" + query +
                         "'; q.form.requestSubmit(); 'ok'");
  }

  static SiteServer* site_;
  RecordingLauncher launcher_;
  std::unique_ptr<gtk::Program> program_;
  std::vector<std::string> cursorsDuringFetch_;
  bool lastWindowClosed_ = false;
};

SiteServer* ProgramTest::site_ = nullptr;

TEST_F(ProgramTest, StartPageLoadsFromTheProgramFolderWithTheFieldFocused) {
  const std::string expected = "file://" + std::string(QUILLMERE_E2E_PROGRAM_FOLDER) + "/Data/index.dat";
  EXPECT_EQ(webkit_web_view_get_uri(MainView()), expected);
  EXPECT_EQ(Title(MainWindow()), "Quillmere 4.5");
  EXPECT_TRUE(WaitForPage(MainView(), "document.activeElement && document.activeElement.name === 'query'"));
  EXPECT_FALSE(gtk_window_get_resizable(MainWindow()));
  EXPECT_TRUE(program_->ResultsWindows().empty());
}

TEST_F(ProgramTest, MainViewFillsTheContentAreaLessTheLayoutMargins) {
  GtkWidget* view = GTK_WIDGET(MainView());
  // 8880 - 30 and 2940 - 0 twips.
  EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_width(view) == 590 && gtk_widget_get_height(view) == 196; }))
      << gtk_widget_get_width(view) << "x" << gtk_widget_get_height(view);
  const graphene_point_t zero = GRAPHENE_POINT_INIT(0, 0);
  graphene_point_t origin;
  ASSERT_TRUE(gtk_widget_compute_point(view, gtk_widget_get_parent(view), &zero, &origin));
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
}

TEST_F(ProgramTest, ScriptedQueryOpensAResultsWindowWithTheWrittenPage) {
  SearchFor("Lune");
  ASSERT_TRUE(WaitForResultsWindows(1));
  EXPECT_EQ(Title(ResultsWindow(0)), "Quillmere: Lune");
  ASSERT_TRUE(WaitForWrittenPage(0));
  const std::string html = Html(ResultsView(0));
  EXPECT_THAT(html, HasSubstr("Torrent Name"));
  EXPECT_THAT(html, HasSubstr("http://127.0.0.1:8642/download.asp?"));
  // The site's page is windows-1252; the written page shows its characters.
  EXPECT_THAT(BodyText(ResultsView(0)), HasSubstr("Georges M\xc3\xa9li\xc3\xa8s"));
  EXPECT_THAT(BodyText(ResultsView(0)), HasSubstr("Lune \xe2\x80\x93 Georges"));
  // The main window stays on its start page; the pointer was the wait
  // pointer during the fetch and is back to the default after it.
  EXPECT_THAT(webkit_web_view_get_uri(MainView()), HasSubstr("/Data/index.dat"));
  EXPECT_THAT(cursorsDuringFetch_, ElementsAre("wait"));
  EXPECT_EQ(gtk_widget_get_cursor(GTK_WIDGET(MainWindow())), nullptr);
}

TEST_F(ProgramTest, RealKeyPressesAndEnterOpenTheResults) {
  if (!g_find_program_in_path("xdotool")) GTEST_SKIP() << "xdotool is not installed";
  gtk_window_present(MainWindow());
  SpinFor(std::chrono::milliseconds(500));
  ASSERT_EQ(std::system("xdotool type --delay 30 Nosferatu && xdotool key Return"), 0);
  ASSERT_TRUE(WaitForResultsWindows(1));
  EXPECT_EQ(Title(ResultsWindow(0)), "Quillmere: Nosferatu");
  ASSERT_TRUE(WaitForWrittenPage(0));
  EXPECT_THAT(BodyText(ResultsView(0)), HasSubstr("Eine Symphonie des Grauens"));
}

TEST_F(ProgramTest, FormSubmittedByScriptWithoutEventsStillGivesTheTypedQuery) {
  // form.submit() raises no submit event, and the value is set without an
  // input event: the field is still read as it stands at submission.
  Eval(MainView(), "var q = document.querySelector('input[name=query]'); q.value = 'Haxan'; q.form.submit(); 'ok'");
  ASSERT_TRUE(WaitForResultsWindows(1));
  EXPECT_EQ(Title(ResultsWindow(0)), "Quillmere: Haxan");
}

TEST_F(ProgramTest, JavascriptAddressesRunInTheStartPage) {
  Eval(MainView(), "location.href = 'javascript:void(document.title = \"ran\")'; 'ok'");
  EXPECT_TRUE(WaitForPage(MainView(), "document.title === 'ran'"));
  EXPECT_TRUE(program_->ResultsWindows().empty());
}

TEST_F(ProgramTest, DirectoryLinkInAResultsWindowOpensTheDirectory) {
  SearchFor("Lune");
  ASSERT_TRUE(WaitForResultsWindows(1));
  ASSERT_TRUE(WaitForWrittenPage(0));
  Eval(ResultsView(0), "document.querySelector('a[href*=\"directory.asp\"]').click(); 'ok'");
  ASSERT_TRUE(WaitForResultsWindows(2));
  EXPECT_EQ(Title(ResultsWindow(1)), "Quillmere: Directory");
  ASSERT_TRUE(WaitForWrittenPage(1));
  // The window in which the link was clicked keeps its caption and page.
  EXPECT_EQ(Title(ResultsWindow(0)), "Quillmere: Lune");
  EXPECT_EQ(program_->ResultsWindows().at(0)->ResultsWindow(), program_->ResultsWindows().at(1));
  EXPECT_THAT(BodyText(ResultsView(0)), HasSubstr("Lune"));
  EXPECT_THAT(Html(ResultsView(1)), HasSubstr("Torrent Name"));
}

TEST_F(ProgramTest, DownloadLinkSavesTheTorrentAndNeverOverwrites) {
  SearchFor("Lune");
  ASSERT_TRUE(WaitForResultsWindows(1));
  ASSERT_TRUE(WaitForWrittenPage(0));
  const std::string click = "document.querySelector('a[href*=\"download.asp\"]').click(); 'ok'";
  Eval(ResultsView(0), click);
  ASSERT_TRUE(SpinUntil([&] { return launcher_.files.size() == 1; }));
  Eval(ResultsView(0), click);
  ASSERT_TRUE(SpinUntil([&] { return launcher_.files.size() == 2; }));

  const fs::path first = launcher_.files[0];
  const fs::path second = launcher_.files[1];
  EXPECT_EQ(first.parent_path(), fs::path(g_downloadDir));
  EXPECT_EQ(first.extension(), ".torrent");
  EXPECT_EQ(second.filename().string(), first.stem().string() + " (1).torrent");
  for (const fs::path& file : {first, second}) {
    std::ifstream in(file, std::ios::binary);
    std::string start(11, '\0');
    in.read(start.data(), 11);
    EXPECT_EQ(start, "d8:announce") << file;
  }
  // No download opened a window; the results window stays on its page.
  EXPECT_EQ(program_->ResultsWindows().size(), 1u);
  EXPECT_EQ(Eval(ResultsView(0), "document.title"), "Quillmere.");
}

TEST_F(ProgramTest, FailedFetchLeavesABlankWindowTitledWithTheQuery) {
  const std::string address =
      "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/search.asp?query=gone&mode=search";
  Eval(MainView(), "document.querySelector('input[name=query]').value = 'gone'; location.href = '" + address +
                       "'; 'ok'");
  ASSERT_TRUE(WaitForResultsWindows(1));
  EXPECT_EQ(Title(ResultsWindow(0)), "Quillmere: gone");
  ASSERT_TRUE(WaitForPage(ResultsView(0), "document.readyState === 'complete'"));
  SpinFor(std::chrono::milliseconds(300));
  EXPECT_EQ(webkit_web_view_get_uri(ResultsView(0)), std::string("about:blank"));
  EXPECT_EQ(Eval(ResultsView(0), "document.body ? document.body.innerHTML : ''"), "");
  EXPECT_EQ(gtk_widget_get_cursor(GTK_WIDGET(MainWindow())), nullptr);
}

TEST_F(ProgramTest, NonAsciiNamesShowAndANulDoesNotCutThePage) {
  Eval(MainView(), "document.querySelector('input[name=query]').value = 'caf\\u00e9'; "
                   "location.href = 'http://127.0.0.1:8642/e2e/search.asp?query=caf%C3%A9&mode=search'; 'ok'");
  ASSERT_TRUE(WaitForResultsWindows(1));
  EXPECT_EQ(Title(ResultsWindow(0)), "Quillmere: caf\xc3\xa9");
  ASSERT_TRUE(WaitForWrittenPage(0));
  const std::string text = BodyText(ResultsView(0));
  EXPECT_THAT(text, HasSubstr("Caf\xc3\xa9 \xe2\x82\xac Ol\xc3\xa9"));
  EXPECT_THAT(text, HasSubstr("after-nul"));
  EXPECT_EQ(Eval(ResultsView(0), "document.characterSet"), "UTF-8");
}

TEST_F(ProgramTest, MagnetLinksGoToTheDesktopHandlerUnchanged) {
  Eval(MainView(), "location.href = 'http://127.0.0.1:8642/e2e/search.asp?query=m&mode=search'; 'ok'");
  ASSERT_TRUE(WaitForResultsWindows(1));
  ASSERT_TRUE(WaitForWrittenPage(0));
  Eval(ResultsView(0), "document.getElementById('magnet').click(); 'ok'");
  ASSERT_TRUE(SpinUntil([&] { return !launcher_.uris.empty(); }));
  EXPECT_THAT(launcher_.uris,
              ElementsAre("magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567&dn=caf"));
  EXPECT_EQ(Eval(ResultsView(0), "document.title"), "Quillmere.");
}

TEST_F(ProgramTest, ResultsWindowLayoutFollowsItsSizeAndNeverGoesNegative) {
  SearchFor("Lune");
  ASSERT_TRUE(WaitForResultsWindows(1));
  GtkWidget* view = GTK_WIDGET(ResultsView(0));
  EXPECT_TRUE(gtk_window_get_resizable(ResultsWindow(0)));
  // 10515 - 80 and 7200 - 320 twips.
  ASSERT_TRUE(SpinUntil([&] { return gtk_widget_get_width(view) == 696 && gtk_widget_get_height(view) == 459; }))
      << gtk_widget_get_width(view) << "x" << gtk_widget_get_height(view);
  // The layout reads the content area; the view keeps its margins through
  // any resizing, and a window too small for them gives a view of size 0.
  GtkWidget* host = gtk_widget_get_parent(view);
  const auto fitsHost = [&] {
    const int w = gtk_widget_get_width(host), h = gtk_widget_get_height(host);
    const long expectW = std::lround(std::max(0.0, (w * 15.0 - 80) / 15));
    const long expectH = std::lround(std::max(0.0, (h * 15.0 - 320) / 15));
    return gtk_widget_get_width(view) == expectW && gtk_widget_get_height(view) == expectH;
  };
  gtk_window_set_default_size(ResultsWindow(0), 900, 600);
  EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_width(host) > 800 && fitsHost(); }))
      << gtk_widget_get_width(view) << "x" << gtk_widget_get_height(view);
  gtk_window_set_default_size(ResultsWindow(0), 3, 3);
  EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_height(host) < 21 && fitsHost(); }))
      << gtk_widget_get_width(view) << "x" << gtk_widget_get_height(view);
  EXPECT_EQ(gtk_widget_get_height(view), 0);
  graphene_point_t origin;
  const graphene_point_t zero = GRAPHENE_POINT_INIT(0, 0);
  ASSERT_TRUE(gtk_widget_compute_point(view, host, &zero, &origin));
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
}

TEST_F(ProgramTest, ClosingTheMainWindowLeavesResultsWindowsOpenUntilTheLast) {
  SearchFor("Lune");
  ASSERT_TRUE(WaitForResultsWindows(1));
  ASSERT_TRUE(WaitForWrittenPage(0));
  gtk_window_close(MainWindow());
  ASSERT_TRUE(SpinUntil([&] { return program_->Main() == nullptr; }));
  EXPECT_EQ(program_->ResultsWindows().size(), 1u);
  EXPECT_FALSE(lastWindowClosed_);
  gtk_window_close(ResultsWindow(0));
  ASSERT_TRUE(SpinUntil([&] { return lastWindowClosed_; }));
  EXPECT_EQ(program_->OpenWindowCount(), 0u);
}

}  // namespace
}  // namespace quillmere::e2e

int main(int argc, char** argv) {
  // GLib reads the environment once; the download folder is set before it.
  char folder[] = "/tmp/quillmere-e2e-XXXXXX";
  if (!mkdtemp(folder)) return 2;
  quillmere::e2e::g_downloadDir = std::string(folder) + "/Downloads";
  setenv("XDG_DOWNLOAD_DIR", quillmere::e2e::g_downloadDir.c_str(), 1);
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
  gtk_init();
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::filesystem::remove_all(folder);
  return status;
}
