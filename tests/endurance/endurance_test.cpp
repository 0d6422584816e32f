// A long run of the program in a real WebKit under Xvfb against the stand-in
// site: searches from the start page and link follows in results windows,
// the windows closed as they come. No window may get stuck, no web process
// may die, and memory after the run must be close to what it was after the
// first few operations.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Harness.h"
#include "ProcessMemory.h"
#include "SiteServer.h"
#include "gtk/Program.h"
#include "net/ModINET.h"
#include "results/PageTexts.h"
#include "text/CodePage.h"

namespace quillmere::endurance {
namespace {

using namespace std::chrono_literals;

constexpr int kOperations = 200;
constexpr int kBaselineAfter = 10;
constexpr double kAllowedGrowth = 1.2;
// Results windows left open between operations; the oldest is closed first.
constexpr size_t kMaxOpenResults = 4;

struct NullLauncher final : gtk::DesktopLauncher {
  void OpenFile(const std::string&) override {}
  void OpenUri(const std::string&) override {}
};

// Searches that find something, several with more than one page of results.
const std::string kQueries[] = {"blender", "debian", "amd64", "mp3", "flac", "freebsd", "librivox", "musopen", "linux",
                                "cc", "restored", "1080p", "Lune", "Nosferatu", "open movie", "vorbis"};

// Clicks one of the page's "Next" and directory links, which one chosen by
// `k`, and answers its address; "" when the page has none.
std::string FollowLink(int k) {
  return "(function () { var links = Array.from(document.links).filter(function (a) { return /Next/.test("
         "a.textContent) || /directory\\.asp/.test(a.href); }); if (!links.length) return ''; var a = links[" +
         std::to_string(k) + " % links.length]; a.click(); return a.href; })()";
}

// Closes results windows, oldest first, until `keep` are open.
void CloseResultsWindowsDownTo(gtk::Program& program, size_t keep) {
  const auto& open = program.ResultsWindows();
  while (open.size() > keep) {
    const size_t before = open.size();
    gtk_window_close(gtk::Program::WindowOf(open.front()->Form()));
    ASSERT_TRUE(e2e::SpinUntil([&] { return open.size() < before; }, 10s)) << "a closed window was not released";
  }
}

void CountTermination(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer count) {
  ++*static_cast<int*>(count);
}

TEST(Endurance, TwoHundredSearchesAndLinkFollowsLeakNothingAndLeaveNoWindowStuck) {
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
  gtk_init();
  SiteServer site;
  ASSERT_TRUE(site.ok()) << "port 8642 is taken";
  NullLauncher launcher;
  auto program = std::make_unique<gtk::Program>(
      nullptr, [](auto&&... a) { return ModINET::FetchPage(a...); }, QUILLMERE_ENDURANCE_PROGRAM_FOLDER, launcher);
  program->Start();
  int terminations = 0;
  WebKitWebView* main = gtk::Program::ViewOf(program->Main()->WB());
  g_signal_connect(main, "web-process-terminated", G_CALLBACK(CountTermination), &terminations);
  ASSERT_TRUE(e2e::WaitForPage(main, "document.querySelector('input[name=query]')"));

  TreeMemory baseline, last;
  for (int op = 0; op < kOperations; ++op) {
    // In each five: a search, three links followed from the window that the
    // step before opened, and a search that finds nothing.
    const size_t before = program->ResultsWindows().size();
    std::string what, expected = "Torrent Name";
    if (op % 5 == 0 || op % 5 == 4) {
      what = op % 5 ? "xq" + std::to_string(op) + " zzv" : kQueries[op / 5 % std::size(kQueries)];
      if (op % 5) expected = text::ToUtf8(results::kNoMatchMessage);
      e2e::Eval(main, "var q = document.querySelector('input[name=query]'); q.value = '" + what +
                          "'; q.form.requestSubmit(); 'ok'");
    } else {
      what = e2e::Eval(gtk::Program::ViewOf(program->ResultsWindows().back()->WB2()), FollowLink(op)).value_or("");
      ASSERT_FALSE(what.empty()) << "operation " << op << ": no link to follow in the newest results window";
    }
    ASSERT_TRUE(e2e::SpinUntil([&] { return program->ResultsWindows().size() == before + 1; }))
        << "operation " << op << ", " << what << ": no window opened";
    WebKitWebView* view = gtk::Program::ViewOf(program->ResultsWindows().back()->WB2());
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(CountTermination), &terminations);
    ASSERT_TRUE(e2e::WaitForPage(view, "document.title === 'Quillmere.' && document.body.innerText.indexOf('" +
                                           expected + "') >= 0"))
        << "operation " << op << ", " << what << ": the window is stuck without its page";

    if (op + 1 != kBaselineAfter && op + 1 != kOperations) {
      ASSERT_NO_FATAL_FAILURE(CloseResultsWindowsDownTo(*program, kMaxOpenResults));
      continue;
    }
    // Measured with every results window closed and the main loop settled.
    ASSERT_NO_FATAL_FAILURE(CloseResultsWindowsDownTo(*program, 0));
    e2e::SpinFor(2s);
    const TreeMemory& sample = (op + 1 == kBaselineAfter ? baseline : last) = MeasureTree(getpid());
    std::printf("after %d operations: PSS %.1f MiB in %zu processes\n", op + 1, sample.PssKib() / 1024.0,
                sample.processes.size());
  }

  EXPECT_EQ(terminations, 0) << "a web process ended under a view";
  EXPECT_FALSE(baseline.PidsNamed("WebKitWebProces").empty()) << "no web process was measured";
  // A WebKit process that died and was started again shows as a new pid.
  EXPECT_EQ(last.PidsNamed("WebKit"), baseline.PidsNamed("WebKit"));
  EXPECT_LE(last.PssKib(), kAllowedGrowth * baseline.PssKib())
      << "memory grew from " << baseline.PssKib() / 1024 << " MiB to " << last.PssKib() / 1024 << " MiB";
  // Nothing but the main window is left open.
  EXPECT_EQ(program->OpenWindowCount(), 1u);
  program.reset();
  e2e::SpinFor(100ms);
}

}  // namespace
}  // namespace quillmere::endurance
