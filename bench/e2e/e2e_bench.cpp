// End-to-end benchmark: the program against a bare WebKitGTK program, side by
// side in one run under Xvfb. Both run as processes of their own; this one
// serves the stand-in site on the port the program is built for, notes when
// each request reaches it, and gives the program real keyboard input.
//
// - search: from Return pressed in the main window to the results page's
//   padlock image requested from the site. The bare program is given the
//   site's results address for the same query and loads it into a new window
//   whose view is related to one hidden view; timed from the address written
//   to it to the same image requested. Searches are a gap apart (1 s), every
//   window stays open, each process makes one search first that is not timed
//   and closes its window. The 1st, 10th and 20th searches are reported.
// - start-up: process spawned to the start page loaded; the bare program opens
//   one window on the same file.
// - memory: PSS of each process with its descendants (web, network and
//   sandbox processes), with 1 and with the last results window open.
//
//   quillmere-e2e-bench [--rounds N] [--searches N] [--startup-runs N] [--gap-ms N]
//                       [--program-folder DIR] [--smaps-folder DIR]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "ProcessMemory.h"
#include "SiteServer.h"
#include "XInput.h"

extern char** environ;

namespace {

using namespace quillmere;
using Ns = long long;

// The program, its start page and its start-up probe; --program-folder puts
// another build's in their place, to compare two builds.
std::string g_programFolder = QUILLMERE_BENCH_PROGRAM_FOLDER;
constexpr char kBareProgram[] = QUILLMERE_BENCH_BARE_PROGRAM;
constexpr char kSiteHost[] = QUILLMERE_SITE_HOST_LITERAL;
constexpr char kMainCaption[] = "Quillmere " QUILLMERE_VERSION_SHORT;
constexpr char kImagePath[] = "/images/downloadlock.gif";

// Queries with results; each search uses one in a letter-case variant of its
// own, which the site answers alike, so that no address is ever seen twice.
const std::vector<std::string> kQueries = {"blender", "debian",   "freebsd", "librivox", "musopen", "linux",
                                           "restored", "Lune",    "Nosferatu", "vorbis", "audiobook", "open",
                                           "netinst",  "desktop", "fedora",  "ubuntu"};

Ns Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Ns>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}
constexpr Ns kMs = 1000000;
double Ms(Ns d) { return static_cast<double>(d) / kMs; }
void SleepUntil(Ns at) {
  for (Ns now = Now(); now < at; now = Now()) std::this_thread::sleep_for(std::chrono::nanoseconds(at - now));
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Variant(const std::string& query, int k) {
  std::string out = query;
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char>((k >> (i % 8)) & 1 ? std::toupper(static_cast<unsigned char>(out[i]))
                                                  : std::tolower(static_cast<unsigned char>(out[i])));
  return out;
}

std::string SearchAddress(const std::string& query) {
  return std::string("http://") + kSiteHost + "/search.asp?query=" + query + "&mode=search";
}

// --- the site, every request noted with the moment it was read ---

class Site {
 public:
  struct Seen {
    Ns at;
    std::string path, query;
  };

  explicit Site(int port) : server_(port, [this](httplib::Server& s) { Mount(s); }) {}
  bool ok() const { return server_.ok(); }

  // The first request for `path` read at `since` or later.
  std::optional<Seen> First(const std::string& path, Ns since) {
    std::lock_guard lock(mutex_);
    for (const Seen& s : seen_)
      if (s.at >= since && s.path == path) return s;
    return std::nullopt;
  }

  std::optional<Seen> WaitFor(const std::string& path, Ns since, Ns timeout) {
    for (const Ns end = Now() + timeout; Now() < end; std::this_thread::sleep_for(std::chrono::microseconds(500)))
      if (auto s = First(path, since)) return s;
    return std::nullopt;
  }

 private:
  void Mount(httplib::Server& server) {
    static const auto catalogue = *demosite::Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr);
    demosite::MountSite(server, catalogue, "http://127.0.0.1/announce");
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard lock(mutex_);
      seen_.push_back({Now(), req.path, req.get_param_value("query")});
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // Nothing is kept in a cache, the padlock least of all: every page asks
    // the site for it again.
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
      res.headers.erase("Cache-Control");
      res.set_header("Cache-Control", "no-store");
    });
  }

  std::mutex mutex_;
  std::vector<Seen> seen_;
  endurance::SiteServer server_;
};

// --- child processes ---

struct Child {
  pid_t pid = -1;
  int in = -1;   // its standard input, when piped
  int out = -1;  // its standard output, when piped

  Child() = default;
  Child(Child&& other) noexcept { *this = std::move(other); }
  Child& operator=(Child&& other) noexcept {
    std::swap(pid, other.pid);
    std::swap(in, other.in);
    std::swap(out, other.out);
    return *this;
  }

  static Child Spawn(std::vector<std::string> args, bool pipeIn, bool pipeOut) {
    Child child;
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipeIn && pipe2(inPipe, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    if (pipeOut && pipe2(outPipe, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (inPipe[0] >= 0) close(inPipe[0]);
    if (outPipe[1] >= 0) close(outPipe[1]);
    child.in = inPipe[1];
    child.out = outPipe[0];
    return child;
  }

  // Its whole standard output, once it has ended; nullopt when it failed or
  // took longer than `timeout`.
  std::optional<std::string> Output(Ns timeout) {
    std::string text;
    char buffer[256];
    for (const Ns end = Now() + timeout;;) {
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::max<Ns>(0, end - Now()) / kMs)) <= 0) return std::nullopt;
      const ssize_t n = read(out, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
  }

  ~Child() {
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// --- the two programs under test ---

// One of the two, running: it is made ready, then asked to search.
class Subject {
 public:
  virtual ~Subject() = default;
  virtual bool Start(bench::XInput& x) = 0;
  // Before the timing: what the user does before pressing Return.
  virtual void Prepare(bench::XInput&, const std::string&) {}
  // The timing starts just before this.
  virtual void Go(bench::XInput& x, const std::string& query) = 0;
  // Closes every results window, as the user would.
  virtual void CloseResults(bench::XInput& x) = 0;
  pid_t Pid() const { return child_.pid; }
  virtual std::string Label() const = 0;

 protected:
  Child child_;
};

class Program final : public Subject {
 public:
  bool Start(bench::XInput& x) override {
    child_ = Child::Spawn({g_programFolder + "/quillmere"}, false, false);
    for (const Ns end = Now() + 30000 * kMs; Now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      for (const auto& w : x.Windows(Pid()))
        if (w.title == kMainCaption) {
          main_ = w.id;
          return true;
        }
    return false;
  }
  // The main window takes the keyboard back from the results window that
  // opened last; the field keeps the caret, and its old text is selected
  // and typed over.
  void Prepare(bench::XInput& x, const std::string& query) override {
    x.Focus(main_);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    x.Key("a", true);
    x.Type(query);
  }
  void Go(bench::XInput& x, const std::string&) override { x.Key("Return"); }
  std::string Label() const override { return "program"; }
  void CloseResults(bench::XInput& x) override {
    for (const auto& w : x.Windows(Pid()))
      if (w.id != main_) x.Close(w.id);
  }

 private:
  unsigned long main_ = 0;
};

class Bare final : public Subject {
 public:
  bool Start(bench::XInput&) override {
    child_ = Child::Spawn({kBareProgram, "--windows"}, true, false);
    return child_.pid > 0;
  }
  std::string Label() const override { return "bare"; }
  void Go(bench::XInput&, const std::string& query) override {
    const std::string line = SearchAddress(query) + "\n";
    if (write(child_.in, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::perror("write");
  }
  void CloseResults(bench::XInput& x) override {
    for (const auto& w : x.Windows(Pid())) x.Close(w.id);
  }
};

// --- one series of searches in a fresh process ---

struct Search {
  double total = 0;        // Go to the padlock requested
  double toPage = 0;       // Go to the site's results page requested
  double pageToImage = 0;  // that page requested to the padlock requested
  double mapped = 0;       // Go to the results window on the screen
};

struct Series {
  std::vector<std::optional<Search>> searches;
  std::optional<double> pssFirst, pssLast;  // MiB, with 1 and with all results windows open
  int failures = 0;
};

// Where --smaps-folder asks for each process's /proc/PID/smaps at both
// memory readings, to see which mappings a further window grows.
std::string g_smapsFolder;

double PssMiB(pid_t pid, const std::string& label) {
  const std::vector<endurance::ProcessMemory> tree = endurance::MeasureTree(pid);
  if (!g_smapsFolder.empty()) {
    for (const endurance::ProcessMemory& p : tree) {
      std::fprintf(stderr, "memory %s: %d %-15s %8ld KiB\n", label.c_str(), p.pid, p.name.c_str(), p.pssKib);
      // Read as a stream: the kernel gives /proc files no size to copy by.
      std::ifstream in("/proc/" + std::to_string(p.pid) + "/smaps");
      std::ofstream(g_smapsFolder + "/" + label + "-" + std::to_string(p.pid) + "-" + p.name) << in.rdbuf();
    }
  }
  return static_cast<double>(endurance::PssKib(tree)) / 1024.0;
}

Series RunSeries(Site& site, bench::XInput& x, Subject& subject, int searches, Ns gap, int& variant) {
  Series series;
  if (!subject.Start(x)) {
    series.failures = searches;
    return series;
  }
  const auto query = [&] { ++variant; return Variant(kQueries[variant % kQueries.size()], variant / 16 + 1); };

  // The first search warms both processes, the web process above all; it is
  // tried again while the start page may still be loading.
  bool warm = false;
  for (int attempt = 0; attempt < 10 && !warm; ++attempt) {
    const std::string q = query();
    subject.Prepare(x, q);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Ns start = Now();
    subject.Go(x, q);
    warm = site.WaitFor(kImagePath, start, 5000 * kMs).has_value();
  }
  if (!warm) {
    series.failures = searches;
    return series;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  subject.CloseResults(x);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));

  Ns next = Now(), done = Now();
  for (int i = 0; i < searches; ++i) {
    const std::string q = query();
    // The keys go in while the gap runs, well before Return.
    const Ns at = std::max(next, done + 400 * kMs);
    SleepUntil(at - 300 * kMs);
    subject.Prepare(x, q);
    SleepUntil(at);
    x.Mapped(0);
    const Ns start = Now();
    subject.Go(x, q);
    next = start + gap;
    // The padlock asked of the site, and the results window on the screen.
    std::optional<Site::Seen> image;
    std::optional<Ns> mapped;
    for (const Ns end = start + 20000 * kMs; (!image || !mapped) && Now() < end;) {
      if (!image) image = site.First(kImagePath, start);
      if (!mapped && x.Mapped(subject.Pid())) mapped = Now();
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    const auto page = site.First("/search.asp", start);
    done = Now();
    if (!image || !page || !mapped || page->query != q || page->at > image->at) {
      ++series.failures;
      series.searches.emplace_back();
    } else {
      series.searches.push_back(
          Search{Ms(image->at - start), Ms(page->at - start), Ms(image->at - page->at), Ms(*mapped - start)});
    }
    if (i == 0 || i == searches - 1) {
      std::this_thread::sleep_for(std::chrono::seconds(3));
      (i == 0 ? series.pssFirst : series.pssLast) =
          PssMiB(subject.Pid(), subject.Label() + (i == 0 ? "-first" : "-last"));
      next = Now() + 500 * kMs;
    }
  }
  return series;
}

// --- start-up ---

std::optional<double> TimeStartup(std::vector<std::string> args) {
  const Ns spawned = Now();
  Child child = Child::Spawn(std::move(args), false, true);
  const auto out = child.Output(90000 * kMs);
  long long loaded = 0;
  if (!out || std::sscanf(out->c_str(), "%lld", &loaded) != 1) return std::nullopt;
  return Ms(loaded - spawned);
}

// --- the table ---

struct Row {
  explicit Row(std::string w, const char* u = "ms") : what(std::move(w)), unit(u) {}
  std::string what;
  const char* unit;
  std::vector<double> program, bare;
};

void PrintRow(const Row& row) {
  const double p = Median(row.program), b = Median(row.bare);
  char ratio[16] = "";
  if (!row.program.empty() && !row.bare.empty() && b > 0) std::snprintf(ratio, sizeof ratio, "%.2f", p / b);
  std::printf("| %-56s | %8.1f %-3s | %8.1f %-3s | %6s | %3zu, %3zu |\n", row.what.c_str(), p, row.unit, b, row.unit,
              ratio, row.program.size(), row.bare.size());
}

int Run(int rounds, int searches, int startupRuns, Ns gap) {
  const int port = endurance::BuiltSitePort();
  if (std::string(kSiteHost).rfind("127.0.0.1", 0) != 0) {
    std::fprintf(stderr, "quillmere-e2e-bench: the program is built for %s, not for the stand-in site\n", kSiteHost);
    return 1;
  }
  Site site(port);
  if (!site.ok()) {
    std::fprintf(stderr, "quillmere-e2e-bench: port %d is taken\n", port);
    return 1;
  }
  bench::XInput x;
  if (!x.ok()) {
    std::fprintf(stderr, "quillmere-e2e-bench: no X display\n");
    return 1;
  }
  x.WatchMaps();
  int failures = 0;

  // Start-up, the two in turn; the first start of each warms the page
  // cache and fontconfig's and is left out.
  Row startup{"start-up: spawned to start page loaded"};
  const std::string startPage = g_programFolder + "/Data/index.dat";
  for (int i = 0; i <= startupRuns; ++i) {
    const auto p = TimeStartup({g_programFolder + "/quillmere-startup-probe"});
    const auto b = TimeStartup({kBareProgram, "--start", startPage});
    failures += !p + !b;
    if (i == 0) continue;
    if (p) startup.program.push_back(*p);
    if (b) startup.bare.push_back(*b);
  }

  // Searches: in each round a series in each program, which goes first
  // alternating from round to round.
  const std::vector<int> reported = {1, 10, 20};
  std::vector<Row> searchRows;
  for (int n : reported)
    if (n <= searches)
      searchRows.push_back(Row{"search, " + std::to_string(n) + (n == 1 ? "st" : "th") + " (" + std::to_string(n) +
                            " results window" + (n == 1 ? "" : "s") + " open)"});
  Row all{"search, all " + std::to_string(searches)};
  Row toPage{"    of which: Return to the site's page requested"};
  Row pageToImage{"    of which: the page requested to the padlock"};
  Row mapped{"    Return to the results window on the screen"};
  Row growth{"growth: last search / first, per round", "x"};
  Row pss1{"memory (PSS): main window + 1 results window", "MiB"};
  Row pssN{"memory (PSS): main window + " + std::to_string(searches) + " results windows", "MiB"};
  Row perWindow{"memory: each further results window", "MiB"};
  int variant = 0;
  for (int round = 0; round < rounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool isProgram = (turn + round) % 2 == 0;
      std::unique_ptr<Subject> subject;
      if (isProgram) subject = std::make_unique<Program>();
      else subject = std::make_unique<Bare>();
      const Series s = RunSeries(site, x, *subject, searches, gap, variant);
      subject.reset();
      failures += s.failures;
      auto side = [&](Row& row) -> std::vector<double>& { return isProgram ? row.program : row.bare; };
      size_t k = 0;
      for (int n : reported)
        if (n <= searches && static_cast<size_t>(n) <= s.searches.size() && s.searches[n - 1])
          side(searchRows[k++]).push_back(s.searches[n - 1]->total);
        else if (n <= searches)
          ++k;
      for (const auto& one : s.searches) {
        if (!one) continue;
        side(all).push_back(one->total);
        side(toPage).push_back(one->toPage);
        side(pageToImage).push_back(one->pageToImage);
        side(mapped).push_back(one->mapped);
      }
      if (!s.searches.empty() && s.searches.front() && s.searches.back())
        side(growth).push_back(s.searches.back()->total / s.searches.front()->total);
      if (s.pssFirst && s.pssLast) {
        side(pss1).push_back(*s.pssFirst);
        side(pssN).push_back(*s.pssLast);
        if (searches > 1) side(perWindow).push_back((*s.pssLast - *s.pssFirst) / (searches - 1));
      }
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }

  std::printf("\nSearches %.0f ms apart, windows left open; %d rounds, each a fresh process per program.\n\n",
              Ms(gap), rounds);
  std::printf("| %-56s | %12s | %12s | %6s | %8s |\n", "measure (medians)", "Quillmere", "bare WebKit", "ratio",
              "runs");
  std::printf("|%s|%s|%s|%s|%s|\n", std::string(58, '-').c_str(), std::string(14, '-').c_str(),
              std::string(14, '-').c_str(), std::string(8, '-').c_str(), std::string(10, '-').c_str());
  for (const Row& row : searchRows) PrintRow(row);
  for (const Row* row : {&all, &toPage, &pageToImage, &mapped, &growth, &startup, &pss1, &pssN, &perWindow})
    PrintRow(*row);

  const double searchRatio = Median(all.program) / std::max(1e-9, Median(all.bare));
  const double startupRatio = Median(startup.program) / std::max(1e-9, Median(startup.bare));
  std::printf("\nsearch: %.2f x the bare program (goal 1.0 or less, stretch 0.5)\n", searchRatio);
  std::printf("growth, last search / first: %.2f against the bare program's %.2f\n", Median(growth.program),
              Median(growth.bare));
  std::printf("start-up: %.2f x the bare program (goal 1.0 or less)\n", startupRatio);
  std::printf("memory per further results window: %.1f MiB (goal 30 or less)\n", Median(perWindow.program));
  std::fflush(stdout);
  if (failures) std::fprintf(stderr, "quillmere-e2e-bench: %d runs failed\n", failures);
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
  // Both programs start with empty caches and data folders of their own: a
  // padlock kept from an earlier run would never be asked for.
  char folder[] = "/tmp/quillmere-e2e-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::filesystem::path home(folder);
  setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
  setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  struct Cleanup {
    std::filesystem::path path;
    ~Cleanup() { std::filesystem::remove_all(path); }
  } cleanup{home};
  int rounds = 5, searches = 20, startupRuns = 7, gapMs = 1000;
  for (int i = 1; i < argc; i += 2) {
    if (std::strcmp(argv[i], "--program-folder") == 0 && i + 1 < argc) {
      g_programFolder = argv[i + 1];
      continue;
    }
    if (std::strcmp(argv[i], "--smaps-folder") == 0 && i + 1 < argc) {
      g_smapsFolder = argv[i + 1];
      continue;
    }
    const int value = i + 1 < argc ? std::atoi(argv[i + 1]) : 0;
    int* target = std::strcmp(argv[i], "--rounds") == 0         ? &rounds
                  : std::strcmp(argv[i], "--searches") == 0     ? &searches
                  : std::strcmp(argv[i], "--startup-runs") == 0 ? &startupRuns
                  : std::strcmp(argv[i], "--gap-ms") == 0       ? &gapMs
                                                                : nullptr;
    if (!target || value <= 0) {
      std::fprintf(stderr,
                   "usage: %s [--rounds N] [--searches N] [--startup-runs N] [--gap-ms N] [--program-folder DIR] [--smaps-folder DIR]\n",
                   argv[0]);
      return 2;
    }
    *target = value;
  }
  return Run(rounds, searches, startupRuns, gapMs * kMs);
}
