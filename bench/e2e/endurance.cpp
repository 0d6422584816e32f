// A long run of the program in a real WebKit under Xvfb against the stand-in
// site: searches from the start page and link follows in results windows,
// the windows closed as they come. No window may get stuck, no web process
// may die, and memory after the run must be close to what it was after the
// first few operations.
#include <gtest/gtest.h>
#include <unistd.h>

#include "Harness.h"
#include "ProcessMemory.h"
#include "results/PageTexts.h"
#include "text/CodePage.h"

namespace quillmere::endurance {
namespace {

using namespace std::chrono_literals;
using gtk::Program;

// At most kMaxOpenResults results windows stay open between operations; the
// oldest is closed first.
constexpr int kOperations = 200, kBaselineAfter = 10, kMaxOpenResults = 4;

// Searches that find something, several with more than one page of results.
const std::string kQueries[] = {"blender", "debian", "amd64", "mp3", "flac", "freebsd", "librivox", "musopen", "linux",
                                "cc", "restored", "1080p", "Lune", "Nosferatu", "open movie", "vorbis"};

// Called with k, finds one of the page's "Next" and directory links, the k-th
// modulo their number, for the pointer to click.
const std::string kFollowLink =
    "(function (k) { var links = Array.from(document.links).filter(function (a) { return /Next/.test(a.textContent)"
    " || /directory\\.asp/.test(a.href); }); return links[k % links.length]; })";

// The pids of the processes whose name starts with `prefix`, in tree order.
std::vector<pid_t> PidsNamed(const std::vector<ProcessMemory>& tree, std::string_view prefix) {
  std::vector<pid_t> pids;
  for (const ProcessMemory& p : tree)
    if (p.name.starts_with(prefix)) pids.push_back(p.pid);
  return pids;
}

// Closes results windows, oldest first, until `keep` are open.
void CloseResultsWindowsDownTo(Program& program, size_t keep) {
  for (const auto& open = program.ResultsWindows(); open.size() > keep;) {
    const size_t before = open.size();
    gtk_window_close(Program::WindowOf(open.front()->Form()));
    ASSERT_TRUE(e2e::SpinUntil([&] { return open.size() < before; }, 10s)) << "a closed window was not released";
  }
}

using Endurance = e2e::ProgramTest;

TEST_F(Endurance, TwoHundredSearchesAndLinkFollowsLeakNothingAndLeaveNoWindowStuck) {
  Program& program = *program_;
  int terminations = 0;
  const auto watch = [&](WebKitWebView* view) {
    g_signal_connect_swapped(view, "web-process-terminated", G_CALLBACK(+[](int* n) { ++*n; }), &terminations);
    return view;
  };
  WebKitWebView* main = watch(MainView());
  const auto newest = [&] { return Program::ViewOf(program.ResultsWindows().back()->WB2()); };

  std::vector<ProcessMemory> baseline, last;
  for (int op = 0; op < kOperations; ++op) {
    // In each five: a search, three links followed from the window that the
    // step before opened, and a search that finds nothing.
    const size_t before = program.ResultsWindows().size();
    std::string what, expected = "Torrent Name";
    if (op % 5 == 0 || op % 5 == 4) {
      what = op % 5 ? "xq" + std::to_string(op) + " zzv" : kQueries[op / 5 % std::size(kQueries)];
      if (op % 5) expected = text::ToUtf8(results::kNoMatchMessage);
      e2e::Eval(main, "var q = document.querySelector('input[name=query]'); q.value = '" + what +
                          "'; q.form.requestSubmit(); 'ok'");
    } else {
      what = e2e::Click(newest(), kFollowLink + "(" + std::to_string(op) + ")");
      ASSERT_FALSE(what.empty()) << "operation " << op << ": no link to follow in the newest results window";
    }
    ASSERT_TRUE(e2e::SpinUntil([&] { return program.ResultsWindows().size() == before + 1; }))
        << "operation " << op << ", " << what << ": no window opened";
    ASSERT_TRUE(e2e::WaitForPage(
        watch(newest()), "document.title === 'Quillmere.' && document.body.innerText.includes('" + expected + "')"))
        << "operation " << op << ", " << what << ": the window is stuck without its page";
    const bool sample = op + 1 == kBaselineAfter || op + 1 == kOperations;
    ASSERT_NO_FATAL_FAILURE(CloseResultsWindowsDownTo(program, sample ? 0 : kMaxOpenResults));
    if (!sample) continue;
    // Measured with every results window closed and the main loop settled.
    e2e::SpinFor(2s);
    (op + 1 == kBaselineAfter ? baseline : last) = MeasureTree(getpid());
  }

  EXPECT_EQ(terminations, 0) << "a web process ended under a view";
  EXPECT_FALSE(PidsNamed(baseline, "WebKitWebProces").empty()) << "no web process was measured";
  // A WebKit process that died and was started again shows as a new pid.
  EXPECT_EQ(PidsNamed(last, "WebKit"), PidsNamed(baseline, "WebKit"));
  EXPECT_LE(PssKib(last), 1.2 * PssKib(baseline))
      << "memory grew from " << PssKib(baseline) / 1024 << " MiB to " << PssKib(last) / 1024 << " MiB";
  // Nothing but the main window is left open.
  EXPECT_EQ(program.OpenWindowCount(), 1u);
}

}  // namespace
}  // namespace quillmere::endurance
