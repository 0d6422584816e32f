// End-to-end benchmark of the program in a real WebKit under Xvfb, against the
// stand-in site on loopback. Prints one table of medians:
//   (a) start-up: a fresh process, timed from just before it is spawned to the
//       start page loaded in the main window; the process starts the program
//       as its main() does (a GtkApplication whose activation makes the
//       Program and starts it).
//   (b) search: from the start page's form submission to the written results
//       page loaded in the new results window.
//   (c) the same kind of view, in the same run, loading the site's own results
//       page for the same query directly: in a new window created at the
//       start of the timing, as the program opens one, and in a window that
//       is already open, as a browser tab would be.
//   (d) memory of the program's process and its WebKit processes (PSS) with
//       the main window and 1, 5 and 20 results windows open, each run in a
//       fresh process.
//
//   quillmere-e2e-bench [--runs N] [--startup-runs N] [--memory-runs N]
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Harness.h"
#include "ProcessMemory.h"
#include "SiteServer.h"
#include "gtk/GObjectPtr.h"
#include "gtk/Program.h"
#include "net/ModINET.h"
#include "text/CodePage.h"

namespace {

using namespace quillmere;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using e2e::Eval;
using e2e::SpinFor;
using e2e::SpinUntil;
using e2e::WaitForPage;

constexpr char kProgramFolder[] = QUILLMERE_BENCH_PROGRAM_FOLDER;
constexpr char kSite[] = "http://127.0.0.1:8642/";

// Queries with results, of one to several pages, all letters: each letter-case
// variant of one is another address (see Variant).
const std::vector<std::string> kQueries = {"blender", "debian",   "freebsd", "librivox", "musopen", "linux",
                                           "restored", "Lune",    "Nosferatu", "vorbis", "audiobook", "open",
                                           "netinst",  "desktop", "fedora",  "ubuntu"};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long long MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The query as a unique address: the site matches words regardless of case,
// so each letter-case variant finds the same torrents under an address that
// no cache has seen.
std::string Variant(const std::string& query, int k) {
  std::string out = query;
  for (size_t i = 0; i < out.size(); ++i) {
    if ((k >> (i % 8)) & 1) out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
    else out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
  }
  return out;
}

std::string SearchAddress(const std::string& query) { return std::string(kSite) + "search.asp?query=" + query + "&mode=search"; }

// --- load watching ---

// Notes when a view has finished loading, at the moment WebKit says so. A
// results window first loads "about:blank" as it is opened, and then the page
// written into it, which is the load with a body; the title is no help, as it
// may reach the view after the load has finished.
struct LoadWatch {
  bool writtenPage = false;
  std::optional<Clock::time_point> finished;
  bool failed = false;
  // Every load event, for the breakdown.
  std::vector<std::pair<WebKitLoadEvent, Clock::time_point>> events;

  void Attach(WebKitWebView* view) {
    g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent event, gpointer data) {
                       auto* self = static_cast<LoadWatch*>(data);
                       self->events.emplace_back(event, Clock::now());
                       if (event != WEBKIT_LOAD_FINISHED || self->finished) return;
                       if (self->writtenPage) {
                         WebKitWebResource* resource = webkit_web_view_get_main_resource(v);
                         WebKitURIResponse* response = resource ? webkit_web_resource_get_response(resource) : nullptr;
                         if (!response || webkit_uri_response_get_content_length(response) <= 0) return;
                       }
                       self->finished = Clock::now();
                     }),
                     this);
    g_signal_connect(view, "load-failed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, char*, GError* error, gpointer data) {
                       // A load replaced by the next one is cancelled, not failed.
                       if (!g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
                         static_cast<LoadWatch*>(data)->failed = true;
                       return FALSE;
                     }),
                     this);
  }
  void Detach(WebKitWebView* view) { g_signal_handlers_disconnect_by_data(view, this); }
};

class NullLauncher final : public gtk::DesktopLauncher {
 public:
  gtk::Handoff OpenTorrent(const std::string&) override { return {}; }
  gtk::Handoff OpenUri(const std::string&) override { return {}; }
  void Notify(const gtk::Notice&) override {}
  void OpenFolder(const std::string&) override {}
};

// --- (a) start-up, in a child process ---

int StartupChild(long long spawnedNs) {
  const long long atMain = MonotonicNs();
  // As the program's main() does.
  g_set_prgname("quillmere");
  g_set_application_name("Quillmere");
  struct State {
    gtk::GioLauncher launcher{nullptr};
    std::unique_ptr<gtk::Program> program;
    long long loadedNs = 0;
    GtkApplication* app = nullptr;
  } state;
  auto app = gtk::GRefPtr<GtkApplication>::Adopt(
      gtk_application_new("org.quillmere.Quillmere", G_APPLICATION_NON_UNIQUE));
  state.app = app.get();
  g_signal_connect(app.get(), "activate", G_CALLBACK(+[](GtkApplication* a, gpointer data) {
                     auto* s = static_cast<State*>(data);
                     app::PageFetcher fetch = [](const std::u16string& url, std::u16string& contentType,
                                                 const std::u16string& postData, int32_t bufferSize, int32_t mode) {
                       return ModINET::FetchPage(url, contentType, postData, bufferSize, mode);
                     };
                     s->program = std::make_unique<gtk::Program>(a, std::move(fetch), kProgramFolder, s->launcher);
                     s->program->Start();
                     WebKitWebView* view = gtk::Program::ViewOf(s->program->Main()->WB());
                     g_signal_connect(view, "load-changed",
                                      G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent event, gpointer d) {
                                        auto* st = static_cast<State*>(d);
                                        const char* uri = webkit_web_view_get_uri(v);
                                        if (event != WEBKIT_LOAD_FINISHED || st->loadedNs || !uri ||
                                            !g_str_has_suffix(uri, "/Data/index.dat"))
                                          return;
                                        st->loadedNs = MonotonicNs();
                                        g_application_quit(G_APPLICATION(st->app));
                                      }),
                                      s);
                   }),
                   &state);
  // The start page never loading would hang the benchmark; give up after a while.
  g_timeout_add_seconds(60, +[](gpointer a) {
    g_application_quit(G_APPLICATION(a));
    return G_SOURCE_REMOVE;
  }, app.get());
  char name[] = "quillmere";
  char* args[] = {name, nullptr};
  g_application_run(G_APPLICATION(app.get()), 1, args);
  state.program.reset();
  if (!state.loadedNs) return 1;
  std::printf("%.3f %.3f\n", (state.loadedNs - spawnedNs) / 1e6, (atMain - spawnedNs) / 1e6);
  return 0;
}

// Runs this program again with `args`; its standard output, or nullopt when
// it failed.
std::optional<std::string> RunSelf(std::vector<std::string> args) {
  args.insert(args.begin(), "/proc/self/exe");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  gtk::GCharPtr out;
  int status = 0;
  gtk::GErrorPtr error;
  char* raw = nullptr;
  const gboolean ok = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &raw, nullptr,
                                   &status, error.Out());
  out = gtk::GCharPtr(raw);
  if (!ok || !g_spawn_check_wait_status(status, nullptr)) return std::nullopt;
  return std::string(out ? out.get() : "");
}

// --- (d) memory, in a child process ---

// Runs one search from the start page and waits for its page.
bool Search(gtk::Program& program, const std::string& query) {
  WebKitWebView* main = gtk::Program::ViewOf(program.Main()->WB());
  const size_t before = program.ResultsWindows().size();
  Eval(main, "var q = document.querySelector('input[name=query]'); q.value = '" + query +
                 "'; q.form.requestSubmit(); 'ok'");
  if (!SpinUntil([&] { return program.ResultsWindows().size() == before + 1; })) return false;
  return WaitForPage(gtk::Program::ViewOf(program.ResultsWindows().back()->WB2()),
                     "document.title === 'Quillmere.' && document.body.innerText.indexOf('Torrent Name') >= 0");
}

int MemoryChild() {
  endurance::SiteServer site;
  if (!site.ok()) {
    std::fprintf(stderr, "port 8642 is taken\n");
    return 1;
  }
  NullLauncher launcher;
  app::PageFetcher fetch = [](const std::u16string& url, std::u16string& contentType, const std::u16string& postData,
                              int32_t bufferSize, int32_t mode) {
    return ModINET::FetchPage(url, contentType, postData, bufferSize, mode);
  };
  auto program = std::make_unique<gtk::Program>(nullptr, fetch, kProgramFolder, launcher);
  program->Start();
  if (!WaitForPage(gtk::Program::ViewOf(program->Main()->WB()), "document.querySelector('input[name=query]')"))
    return 1;
  int searches = 0;
  for (int target : {0, 1, 5, 20}) {
    while (static_cast<int>(program->ResultsWindows().size()) < target) {
      if (!Search(*program, Variant(kQueries[searches % kQueries.size()], searches / 16 + 1))) return 1;
      ++searches;
    }
    SpinFor(3s);
    const endurance::TreeMemory tree = endurance::MeasureTree(getpid());
    std::printf("%d %ld %ld %zu %zu\n", target, tree.PssKib(), tree.RssKib(),
                tree.PidsNamed("WebKitWebProces").size(), tree.processes.size());
  }
  program.reset();
  SpinFor(100ms);
  return 0;
}

// --- (b) and (c), in this process ---

struct SearchTimes {
  std::vector<double> search;       // (b)
  std::vector<double> toHandler;    // submission to the program's fetch starting
  std::vector<double> fetch;        // the fetch itself
  std::vector<double> afterFetch;   // fetch done to the written page loaded
  std::vector<double> toDecision;   // submission to the main view's navigation decision
  std::vector<double> toWrittenStart;  // fetch done to the written page's load starting
  std::vector<double> writtenLoad;  // the written page's load, started to finished
  std::vector<double> blankLoads;   // loads of "about:blank" before the written page
  std::vector<double> directStart;  // (c) new window: made to the load starting
  std::vector<double> directLoad;   // (c) new window: the load, started to finished
  std::vector<double> directNew;    // (c) in a new window
  std::vector<double> directOpen;   // (c) in an open window
};

class SearchBench {
 public:
  SearchBench() {
    app::PageFetcher fetch = [this](const std::u16string& url, std::u16string& contentType,
                                    const std::u16string& postData, int32_t bufferSize, int32_t mode) {
      // The handler has just made the new window: watch its view from here.
      fetchStart_ = Clock::now();
      if (watch_ && !program_->ResultsWindows().empty())
        watch_->Attach(gtk::Program::ViewOf(program_->ResultsWindows().back()->WB2()));
      std::u16string page = ModINET::FetchPage(url, contentType, postData, bufferSize, mode);
      fetchEnd_ = Clock::now();
      return page;
    };
    program_ = std::make_unique<gtk::Program>(nullptr, fetch, kProgramFolder, launcher_);
    program_->Start();
    openWindow_ = NewDirectWindow();
    // When the main view is asked to decide on the form's navigation; an
    // emission hook runs whatever the handlers return.
    hookSignal_ = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
    hook_ = g_signal_add_emission_hook(
        hookSignal_, 0,
        +[](GSignalInvocationHint*, guint, const GValue* values, gpointer data) -> gboolean {
          auto* self = static_cast<SearchBench*>(data);
          if (self->program_ && self->program_->Main() && g_value_get_object(&values[0]) == self->MainView())
            self->decision_ = Clock::now();
          return TRUE;
        },
        this, nullptr);
  }
  ~SearchBench() {
    g_signal_remove_emission_hook(hookSignal_, hook_);
    if (openWindow_) gtk_window_destroy(openWindow_);
    program_.reset();
    SpinFor(100ms);
  }

  bool Ready() {
    return WaitForPage(MainView(), "document.querySelector('input[name=query]')") &&
           // The open window starts on a page of the site, as a browser tab on it would.
           LoadDirect(openView_, std::string(kSite) + "index.asp").has_value();
  }

  // (b): one search from the start page; the time to the written page.
  std::optional<double> TimeSearch(const std::string& query) {
    LoadWatch watch;
    watch.writtenPage = true;
    watch_ = &watch;
    const size_t before = program_->ResultsWindows().size();
    const std::string script =
        "var q = document.querySelector('input[name=query]'); q.value = '" + query + "'; q.form.requestSubmit();";
    const Clock::time_point start = Clock::now();
    webkit_web_view_evaluate_javascript(MainView(), script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    const bool done = SpinUntil([&] { return watch.finished.has_value() || watch.failed; }, 30s);
    watch_ = nullptr;
    std::optional<double> result;
    if (done && watch.finished && program_->ResultsWindows().size() == before + 1) {
      result = Ms(*watch.finished - start);
      times_.toHandler.push_back(Ms(fetchStart_ - start));
      times_.fetch.push_back(Ms(fetchEnd_ - fetchStart_));
      times_.afterFetch.push_back(Ms(*watch.finished - fetchEnd_));
      times_.toDecision.push_back(Ms(decision_ - start));
      // The written page's load is the last one started.
      std::optional<Clock::time_point> lastStart;
      int blanks = -1;
      for (const auto& [event, at] : watch.events) {
        if (event == WEBKIT_LOAD_STARTED) {
          lastStart = at;
          ++blanks;
        }
      }
      if (lastStart) {
        times_.toWrittenStart.push_back(Ms(*lastStart - fetchEnd_));
        times_.writtenLoad.push_back(Ms(*watch.finished - *lastStart));
        times_.blankLoads.push_back(blanks);
      }
      WebKitWebView* view = gtk::Program::ViewOf(program_->ResultsWindows().back()->WB2());
      watch.Detach(view);
      lastWritten_ = Eval(view, "document.documentElement.outerHTML").value_or("");
    }
    CloseResultsWindows();
    return result;
  }

  // (c): the site's own page for `query` in a new window of the same kind,
  // made at the start of the timing as the program makes one.
  std::optional<double> TimeDirectNew(const std::string& query) {
    const Clock::time_point start = Clock::now();
    auto view = program_->Session().NewResultsView();
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "direct");
    gtk_window_set_default_size(GTK_WINDOW(window), kViewWidth, kViewHeight);
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view.get()));
    gtk_window_present(GTK_WINDOW(window));
    LoadWatch watch;
    const auto finished = LoadDirect(view.get(), SearchAddress(query), &watch);
    for (const auto& [event, at] : watch.events) {
      if (event == WEBKIT_LOAD_STARTED && finished) {
        times_.directStart.push_back(Ms(at - start));
        times_.directLoad.push_back(Ms(*finished - at));
        break;
      }
    }
    gtk_window_destroy(GTK_WINDOW(window));
    SpinFor(200ms);
    if (!finished) return std::nullopt;
    return Ms(*finished - start);
  }

  // For finding where (b)'s time goes: the main window's handler run straight
  // from the main loop, not from inside the view's navigation decision.
  std::optional<double> TimeHandlerDirect(const std::string& query) {
    LoadWatch watch;
    watch.writtenPage = true;
    watch_ = &watch;
    const Clock::time_point start = Clock::now();
    bool cancel = false;
    program_->Main()->WB_BeforeNavigate2(text::FromUtf8(SearchAddress(query)), cancel);
    SpinUntil([&] { return watch.finished.has_value() || watch.failed; }, 30s);
    watch_ = nullptr;
    std::optional<double> result;
    if (watch.finished) {
      result = Ms(*watch.finished - start);
      watch.Detach(gtk::Program::ViewOf(program_->ResultsWindows().back()->WB2()));
    }
    CloseResultsWindows();
    return result;
  }

  // For finding where (b)'s time goes: the page that the program wrote last,
  // loaded the way the program loads it into a new window of the same kind,
  // after an "about:blank" navigation or without one.
  std::optional<double> TimeWrittenPage(bool blankFirst) {
    if (lastWritten_.empty()) return std::nullopt;
    const Clock::time_point start = Clock::now();
    auto view = program_->Session().NewResultsView();
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), kViewWidth, kViewHeight);
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view.get()));
    LoadWatch watch;
    watch.writtenPage = true;
    watch.Attach(view.get());
    if (blankFirst) webkit_web_view_load_uri(view.get(), "about:blank");
    gtk_window_present(GTK_WINDOW(window));
    gtk::GBytesPtr bytes(g_bytes_new(lastWritten_.data(), lastWritten_.size()));
    webkit_web_view_load_bytes(view.get(), bytes.get(), "text/html", "UTF-8", "about:blank");
    SpinUntil([&] { return watch.finished.has_value() || watch.failed; }, 30s);
    watch.Detach(view.get());
    gtk_window_destroy(GTK_WINDOW(window));
    SpinFor(200ms);
    if (!watch.finished) return std::nullopt;
    return Ms(*watch.finished - start);
  }

  // (c): the site's own page for `query` in the window that stays open.
  std::optional<double> TimeDirectOpen(const std::string& query) {
    const Clock::time_point start = Clock::now();
    const auto finished = LoadDirect(openView_, SearchAddress(query));
    SpinFor(200ms);
    if (!finished) return std::nullopt;
    return Ms(*finished - start);
  }

  SearchTimes& Times() { return times_; }

 private:
  // The size of a results window's view: 10515 - 80 by 7200 - 320 twips.
  static constexpr int kViewWidth = 696;
  static constexpr int kViewHeight = 459;

  WebKitWebView* MainView() { return gtk::Program::ViewOf(program_->Main()->WB()); }

  GtkWindow* NewDirectWindow() {
    auto view = program_->Session().NewResultsView();
    openView_ = view.get();
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "direct");
    gtk_window_set_default_size(GTK_WINDOW(window), kViewWidth, kViewHeight);
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view.get()));
    gtk_window_present(GTK_WINDOW(window));
    return GTK_WINDOW(window);
  }

  std::optional<Clock::time_point> LoadDirect(WebKitWebView* view, const std::string& address,
                                              LoadWatch* seen = nullptr) {
    LoadWatch own;
    LoadWatch& watch = seen ? *seen : own;
    watch.Attach(view);
    webkit_web_view_load_uri(view, address.c_str());
    SpinUntil([&] { return watch.finished.has_value() || watch.failed; }, 30s);
    watch.Detach(view);
    return watch.finished;
  }

  void CloseResultsWindows() {
    const auto& open = program_->ResultsWindows();
    while (!open.empty()) {
      const size_t before = open.size();
      gtk_window_close(gtk::Program::WindowOf(open.front()->Form()));
      SpinUntil([&] { return open.size() < before; }, 10s);
    }
    SpinFor(200ms);
  }

  NullLauncher launcher_;
  std::unique_ptr<gtk::Program> program_;
  GtkWindow* openWindow_ = nullptr;
  WebKitWebView* openView_ = nullptr;  // owned by openWindow_
  LoadWatch* watch_ = nullptr;
  Clock::time_point fetchStart_, fetchEnd_, decision_;
  std::string lastWritten_;
  guint hookSignal_ = 0;
  gulong hook_ = 0;
  SearchTimes times_;
};

struct Row {
  std::string what;
  std::vector<double> values;
  std::string unit;
};

void PrintRow(const Row& row) {
  if (row.values.empty()) {
    std::printf("| %-58s | %10s | %8s | %8s | %4s |\n", row.what.c_str(), "failed", "", "", "0");
    return;
  }
  const auto [lo, hi] = std::minmax_element(row.values.begin(), row.values.end());
  std::printf("| %-58s | %7.1f %-2s | %8.1f | %8.1f | %4zu |\n", row.what.c_str(), Median(row.values),
              row.unit.c_str(), *lo, *hi, row.values.size());
}

int Parent(int runs, int startupRuns, int memoryRuns) {
  std::vector<Row> rows;
  std::vector<std::string> notes;
  int failures = 0;

  // (a)
  std::vector<double> startup, toMain;
  for (int i = 0; i < startupRuns + 1; ++i) {
    const long long spawned = MonotonicNs();
    const auto out = RunSelf({"--startup-child", std::to_string(spawned)});
    double total = 0, main = 0;
    if (!out || std::sscanf(out->c_str(), "%lf %lf", &total, &main) != 2) {
      ++failures;
      continue;
    }
    // The first start warms the page cache and fontconfig's; it is left out.
    if (i == 0) continue;
    startup.push_back(total);
    toMain.push_back(main);
  }
  rows.push_back({"(a) start-up: process spawned to start page loaded", startup, "ms"});
  rows.push_back({"    of which: spawned to main()", toMain, "ms"});

  // (d)
  std::vector<double> mem[4], rssMem[4], perWindow, perWindow5, firstWindow;
  size_t webProcesses[4] = {0, 0, 0, 0};
  for (int i = 0; i < memoryRuns; ++i) {
    const auto out = RunSelf({"--memory-child"});
    if (!out) {
      ++failures;
      continue;
    }
    std::istringstream in(*out);
    long pss[4] = {0, 0, 0, 0};
    int index = 0, count = 0;
    long p = 0, r = 0;
    size_t web = 0, procs = 0;
    while (index < 4 && in >> count >> p >> r >> web >> procs) {
      pss[index] = p;
      mem[index].push_back(p / 1024.0);
      rssMem[index].push_back(r / 1024.0);
      webProcesses[index] = web;
      ++index;
    }
    if (index != 4) {
      ++failures;
      continue;
    }
    firstWindow.push_back((pss[1] - pss[0]) / 1024.0);
    perWindow5.push_back((pss[2] - pss[1]) / 1024.0 / 4);
    perWindow.push_back((pss[3] - pss[1]) / 1024.0 / 19);
  }
  const char* counts[] = {"main window only", "main + 1 results window", "main + 5 results windows",
                          "main + 20 results windows"};
  for (int k = 0; k < 4; ++k) {
    rows.push_back({std::string("(d) memory, PSS: ") + counts[k], mem[k], "MiB"});
  }
  rows.push_back({"(d) first results window (1 - 0)", firstWindow, "MiB"});
  rows.push_back({"(d) each further results window ((5 - 1) / 4)", perWindow5, "MiB"});
  rows.push_back({"(d) each further results window ((20 - 1) / 19)", perWindow, "MiB"});
  notes.push_back("web processes with 0/1/5/20 results windows open: " + std::to_string(webProcesses[0]) + "/" +
                  std::to_string(webProcesses[1]) + "/" + std::to_string(webProcesses[2]) + "/" +
                  std::to_string(webProcesses[3]));
  {
    char line[160];
    std::snprintf(line, sizeof line, "RSS summed over the same processes (counts shared pages once per process): "
                  "%.1f / %.1f / %.1f / %.1f MiB", Median(rssMem[0]), Median(rssMem[1]), Median(rssMem[2]),
                  Median(rssMem[3]));
    notes.push_back(line);
  }

  // (b) and (c)
  {
    endurance::SiteServer site;
    if (!site.ok()) {
      std::fprintf(stderr, "quillmere-e2e-bench: port 8642 is taken\n");
      return 1;
    }
    SearchBench bench;
    if (!bench.Ready()) {
      std::fprintf(stderr, "quillmere-e2e-bench: the start page did not load\n");
      return 1;
    }
    std::vector<double> search, directNew, directOpen, writtenAlone, writtenAfterBlank, handlerDirect;
    constexpr int kWarmUp = 2;
    for (int i = 0; i < runs + kWarmUp; ++i) {
      const std::string& query = kQueries[i % kQueries.size()];
      // Three variants of one query: three addresses, none cached, one set of results.
      const int variant = 3 * (i / static_cast<int>(kQueries.size()));
      const auto b = bench.TimeSearch(Variant(query, variant));
      const auto c = bench.TimeDirectNew(Variant(query, variant + 1));
      const auto c2 = bench.TimeDirectOpen(Variant(query, variant + 2));
      if (!b || !c || !c2) ++failures;
      if (i < kWarmUp) continue;
      if (b) search.push_back(*b);
      if (c) directNew.push_back(*c);
      if (c2) directOpen.push_back(*c2);
      if (const auto w = bench.TimeWrittenPage(false)) writtenAlone.push_back(*w);
      if (const auto w = bench.TimeWrittenPage(true)) writtenAfterBlank.push_back(*w);
      if (const auto w = bench.TimeHandlerDirect(Variant(query, variant + 3))) handlerDirect.push_back(*w);
    }
    SearchTimes& t = bench.Times();
    // The warm-up rounds' parts are dropped as well.
    auto drop = [&](std::vector<double>& v) { v.erase(v.begin(), v.begin() + std::min<size_t>(kWarmUp, v.size())); };
    drop(t.toHandler);
    drop(t.fetch);
    drop(t.afterFetch);
    drop(t.toDecision);
    drop(t.toWrittenStart);
    drop(t.writtenLoad);
    drop(t.blankLoads);
    drop(t.directStart);
    drop(t.directLoad);
    rows.push_back({"(b) search: submission to results page loaded", search, "ms"});
    rows.push_back({"    submission to the navigation decision", t.toDecision, "ms"});
    rows.push_back({"    submission to the program's fetch", t.toHandler, "ms"});
    rows.push_back({"    the fetch (libcurl, loopback)", t.fetch, "ms"});
    rows.push_back({"    fetch done to the written page loaded", t.afterFetch, "ms"});
    rows.push_back({"    fetch done to the written page's load started", t.toWrittenStart, "ms"});
    rows.push_back({"    the written page's load, started to finished", t.writtenLoad, "ms"});
    rows.push_back({"    about:blank loads before it", t.blankLoads, ""});
    rows.push_back({"(c) site's page directly, new window of the same kind", directNew, "ms"});
    rows.push_back({"    window made to the load started", t.directStart, "ms"});
    rows.push_back({"    the load, started to finished", t.directLoad, "ms"});
    rows.push_back({"(c) site's page directly, window already open", directOpen, "ms"});
    rows.push_back({"diagnostic: main window's handler run from the main loop", handlerDirect, "ms"});
    rows.push_back({"diagnostic: written page into a plain new window", writtenAlone, "ms"});
    rows.push_back({"diagnostic: the same, after about:blank", writtenAfterBlank, "ms"});
    const double b = Median(search), cNew = Median(directNew), cOpen = Median(directOpen);
    char line[200];
    std::snprintf(line, sizeof line, "(b)/(c): %.2f against a new window, %.2f against an open window (goal: 1.1 or less)",
                  b / cNew, b / cOpen);
    notes.push_back(line);
  }

  std::printf("\n| %-58s | %10s | %8s | %8s | %4s |\n", "measure", "median", "min", "max", "runs");
  std::printf("|%s|%s|%s|%s|%s|\n", std::string(60, '-').c_str(), std::string(12, '-').c_str(),
              std::string(10, '-').c_str(), std::string(10, '-').c_str(), std::string(6, '-').c_str());
  for (const Row& row : rows) PrintRow(row);
  std::printf("\n");
  const double per = Median(perWindow);
  char goal[160];
  std::snprintf(goal, sizeof goal, "memory per further results window: %.1f MiB (goal: 50 MiB or less)", per);
  notes.push_back(goal);
  for (const std::string& n : notes) std::printf("%s\n", n.c_str());
  std::fflush(stdout);
  if (failures) std::fprintf(stderr, "quillmere-e2e-bench: %d runs failed\n", failures);
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
  if (argc == 3 && std::strcmp(argv[1], "--startup-child") == 0) return StartupChild(std::atoll(argv[2]));
  gtk_init();
  if (argc == 2 && std::strcmp(argv[1], "--memory-child") == 0) return MemoryChild();
  int runs = 15, startupRuns = 7, memoryRuns = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const int value = std::atoi(argv[i + 1]);
    if (value <= 0) {
      std::fprintf(stderr, "usage: %s [--runs N] [--startup-runs N] [--memory-runs N]\n", argv[0]);
      return 2;
    }
    if (std::strcmp(argv[i], "--runs") == 0) runs = value;
    else if (std::strcmp(argv[i], "--startup-runs") == 0) startupRuns = value;
    else if (std::strcmp(argv[i], "--memory-runs") == 0) memoryRuns = value;
  }
  return Parent(runs, startupRuns, memoryRuns);
}
