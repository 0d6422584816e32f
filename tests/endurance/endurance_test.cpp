// A long run of the program: searches from the start page and link follows in
// results windows, windows closed as they come, in a real WebKit under Xvfb
// against the stand-in site. Memory, the web processes and every window's
// page are watched throughout.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Harness.h"
#include "ProcessMemory.h"
#include "SiteServer.h"
#include "gtk/Program.h"
#include "net/ModINET.h"
#include "results/PageTexts.h"
#include "text/CodePage.h"

namespace quillmere::endurance {
namespace {

using e2e::Eval;
using e2e::SpinFor;
using e2e::SpinUntil;
using e2e::WaitForPage;
using namespace std::chrono_literals;

constexpr int kOperations = 200;
constexpr int kBaselineAfter = 10;
constexpr double kAllowedGrowth = 1.2;
// Results windows left open between operations; the oldest is closed first.
constexpr size_t kMaxOpenResults = 4;
// Far beyond what a page takes on loopback; a window that has no page by
// then is stuck.
constexpr auto kPageDeadline = 30s;

class NullLauncher final : public gtk::DesktopLauncher {
 public:
  void OpenFile(const std::string& path) override { opened.push_back(path); }
  void OpenUri(const std::string& uri) override { opened.push_back(uri); }
  std::vector<std::string> opened;
};

// Searches that find something, several with more than one page of results,
// and the link kinds followed from the window that the previous step opened.
const std::vector<std::string> kQueries = {"blender", "debian", "amd64",  "mp3",     "flac",     "freebsd",
                                           "librivox", "musopen", "linux", "cc",      "restored", "1080p",
                                           "Lune",     "Nosferatu", "open movie", "vorbis"};

enum class Step { Search, NextPage, Category, NextOrDirectory, SearchWithoutMatch };
constexpr Step kCycle[] = {Step::Search, Step::NextPage, Step::Category, Step::NextOrDirectory,
                           Step::SearchWithoutMatch};

// Clicks a link of the page and answers its address, or "" when the page has
// none of the kinds asked for, tried in order.
std::string ClickScript(const std::vector<std::string>& finders) {
  std::string script = "(function () { var finders = [";
  for (const std::string& f : finders) script += "function () { " + f + " },";
  script += "]; for (var i = 0; i < finders.length; i++) { var a = finders[i](); "
            "if (a) { var href = a.href; a.click(); return href; } } return ''; })()";
  return script;
}

const std::string kNextLink = "return Array.from(document.links).find(function (a) { return /Next/.test(a.textContent); });";
const std::string kDirectoryLink = "return document.querySelector('a[href*=\"mode=directory\"]');";
std::string CategoryLink(int k) {
  return "var all = document.querySelectorAll('a[href*=\"directory.asp?mode=sub\"]'); return all.length ? all[" +
         std::to_string(k) + " % all.length] : null;";
}

// The caption that a followed link gives its window.
std::string CaptionFor(const std::string& address) {
  std::string lower = address;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("directory.asp") != std::string::npos) return "Quillmere: Directory";
  const size_t start = address.find("query=") + 6;
  return "Quillmere: " + address.substr(start, address.find('&', start) - start);
}

struct Sample {
  int afterOperations;
  TreeMemory memory;
};

double Mib(long kib) { return static_cast<double>(kib) / 1024.0; }

void Print(const Sample& s) {
  std::printf("after %3d operations: PSS %.1f MiB, RSS %.1f MiB (", s.afterOperations, Mib(s.memory.PssKib()),
              Mib(s.memory.RssKib()));
  for (size_t i = 0; i < s.memory.processes.size(); ++i) {
    const ProcessMemory& p = s.memory.processes[i];
    std::printf("%s%s %d: %.1f", i ? ", " : "", p.process.name.c_str(), static_cast<int>(p.process.pid),
                Mib(p.pssKib));
  }
  std::printf(")\n");
  std::fflush(stdout);
}

class Endurance : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(site_.ok()) << "port 8642 is taken";
    app::PageFetcher fetch = [](const std::u16string& url, std::u16string& contentType,
                                const std::u16string& postData, int32_t bufferSize, int32_t mode) {
      return ModINET::FetchPage(url, contentType, postData, bufferSize, mode);
    };
    program_ = std::make_unique<gtk::Program>(nullptr, fetch, QUILLMERE_ENDURANCE_PROGRAM_FOLDER, launcher_);
    program_->Start();
    Watch(MainView());
    ASSERT_TRUE(WaitForPage(MainView(), "document.querySelector('input[name=query]')"));
  }

  void TearDown() override {
    program_.reset();
    SpinFor(100ms);
  }

  WebKitWebView* MainView() { return gtk::Program::ViewOf(program_->Main()->WB()); }

  // Counts the view's web process ending under it.
  void Watch(WebKitWebView* view) {
    g_signal_connect(view, "web-process-terminated",
                     G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer count) {
                       ++*static_cast<int*>(count);
                     }),
                     &terminations_);
  }

  // Closes results windows, oldest first, until `keep` are open, and waits
  // until the program has let them go.
  void CloseResultsWindowsDownTo(size_t keep) {
    const auto& open = program_->ResultsWindows();
    while (open.size() > keep) {
      const size_t before = open.size();
      gtk_window_close(gtk::Program::WindowOf(open.front()->Form()));
      ASSERT_TRUE(SpinUntil([&] { return open.size() < before; }, 10s)) << "a closed window was not released";
    }
  }

  // Closes every results window, lets the main loop settle and measures.
  Sample Settle(int operations) {
    CloseResultsWindowsDownTo(0);
    SpinFor(2s);
    Sample s{operations, MeasureTree(getpid())};
    Print(s);
    return s;
  }

  SiteServer site_;
  NullLauncher launcher_;
  int terminations_ = 0;
  std::unique_ptr<gtk::Program> program_;
};

TEST_F(Endurance, TwoHundredSearchesAndLinkFollowsKeepMemoryAndWindowsHealthy) {
  std::vector<Sample> samples;
  std::vector<std::string> stuck;
  std::set<pid_t> webkitAfterBaseline;
  size_t queryIndex = 0;
  const auto started = std::chrono::steady_clock::now();

  for (int op = 0; op < kOperations; ++op) {
    const Step step = kCycle[op % std::size(kCycle)];
    const size_t before = program_->ResultsWindows().size();
    std::string caption;
    std::string expectedText;
    std::string what;

    if (step == Step::Search || step == Step::SearchWithoutMatch) {
      const std::string query = step == Step::Search ? kQueries[queryIndex++ % kQueries.size()]
                                                     : "xq" + std::to_string(op) + " zzv";
      what = "search \"" + query + "\"";
      caption = "Quillmere: " + query;
      expectedText = step == Step::Search ? "Torrent Name" : text::ToUtf8(results::kNoMatchMessage);
      Eval(MainView(), "var q = document.querySelector('input[name=query]'); q.value = '" + query +
                           "'; q.form.requestSubmit(); 'ok'");
    } else {
      std::vector<std::string> finders;
      if (step == Step::NextPage) finders = {kNextLink, CategoryLink(op)};
      if (step == Step::Category) finders = {CategoryLink(op)};
      if (step == Step::NextOrDirectory) finders = {kNextLink, kDirectoryLink};
      ASSERT_GT(before, 0u);
      WebKitWebView* source = gtk::Program::ViewOf(program_->ResultsWindows().back()->WB2());
      const std::string address = Eval(source, ClickScript(finders)).value_or("");
      ASSERT_FALSE(address.empty()) << "operation " << op << ": no link to follow in the newest results window";
      what = "follow " + address;
      caption = CaptionFor(address);
      expectedText = "Torrent Name";
    }

    if (!SpinUntil([&] { return program_->ResultsWindows().size() == before + 1; }, kPageDeadline)) {
      stuck.push_back(std::to_string(op) + ": " + what + ": no window opened");
      ASSERT_LT(stuck.size(), 5u) << "giving up";
      continue;
    }
    const auto& window = program_->ResultsWindows().back();
    WebKitWebView* view = gtk::Program::ViewOf(window->WB2());
    Watch(view);
    const char* title = gtk_window_get_title(gtk::Program::WindowOf(window->Form()));
    EXPECT_EQ(title ? title : "", caption) << "operation " << op << ": " << what;
    if (!WaitForPage(view, "document.title === 'Quillmere.' && document.body.innerText.indexOf('" + expectedText +
                               "') >= 0",
                     kPageDeadline)) {
      stuck.push_back(std::to_string(op) + ": " + what + ": page never came");
      ASSERT_LT(stuck.size(), 5u) << "giving up";
    }

    const int done = op + 1;
    if (done == kBaselineAfter || done % 50 == 0) {
      samples.push_back(Settle(done));
      std::set<pid_t> webkit;
      for (pid_t pid : samples.back().memory.PidsNamed("WebKit")) webkit.insert(pid);
      if (done == kBaselineAfter) {
        webkitAfterBaseline = webkit;
      } else {
        // A web process that died and was started again would show as a new pid.
        EXPECT_EQ(webkit, webkitAfterBaseline) << "after " << done << " operations";
      }
    } else {
      // Links are followed in the newest window; older ones are closed as a
      // user would.
      CloseResultsWindowsDownTo(kMaxOpenResults);
    }
  }

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%d operations in %.1f s (%.0f ms each)\n", kOperations, seconds, seconds * 1000 / kOperations);

  for (const std::string& s : stuck) ADD_FAILURE() << "stuck window: operation " << s;
  EXPECT_EQ(terminations_, 0) << "a web process ended under a view";
  EXPECT_TRUE(launcher_.opened.empty()) << "nothing was to be downloaded or handed to the desktop";
  ASSERT_GE(samples.size(), 2u);
  const Sample& baseline = samples.front();
  const Sample& last = samples.back();
  EXPECT_EQ(baseline.afterOperations, kBaselineAfter);
  EXPECT_EQ(last.afterOperations, kOperations);
  EXPECT_FALSE(baseline.memory.PidsNamed("WebKitWebProces").empty()) << "no web process was measured";
  EXPECT_LE(static_cast<double>(last.memory.PssKib()), kAllowedGrowth * static_cast<double>(baseline.memory.PssKib()))
      << "memory grew from " << Mib(baseline.memory.PssKib()) << " MiB to " << Mib(last.memory.PssKib()) << " MiB";
  std::printf("memory after %d operations is %.2f times that after %d\n", kOperations,
              static_cast<double>(last.memory.PssKib()) / static_cast<double>(baseline.memory.PssKib()),
              kBaselineAfter);
  // The program is still whole: its main window works and nothing else is open.
  EXPECT_EQ(program_->OpenWindowCount(), 1u);
}

}  // namespace
}  // namespace quillmere::endurance

int main(int argc, char** argv) {
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
  gtk_init();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
