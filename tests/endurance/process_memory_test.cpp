// The /proc readers that the endurance test and the benchmarks measure with.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "ProcessMemory.h"

namespace quillmere::endurance {
namespace {

struct StatCase {
  const char* line;
  bool valid;
  pid_t pid;
  pid_t ppid;
  const char* name;
};

TEST(ParseStat, ReadsPidParentAndNameWhateverTheNameHolds) {
  const StatCase cases[] = {
      {"1234 (WebKitWebProces) S 1200 1234 1200 0 -1 4194560 3000", true, 1234, 1200, "WebKitWebProces"},
      // Names may hold spaces and parentheses; the name ends at the last ')'.
      {"77 (a b) R 1 77 77", true, 77, 1, "a b"},
      {"78 (x) (y)) S 5 78", true, 78, 5, "x) (y)"},
      {"79 () S 3 79", true, 79, 3, ""},
      {"1 (init) S 0 1 1", true, 1, 0, "init"},
      {"", false, 0, 0, ""},
      {"12 name S 3", false, 0, 0, ""},
      {"12 (name S 3", false, 0, 0, ""},
      {"12 (name)", false, 0, 0, ""},
      {"x (name) S 3 4", false, 0, 0, ""},
      {"12 (name) S -3 4", false, 0, 0, ""},
      {"12 (name) S 3x 4", false, 0, 0, ""},
  };
  for (const StatCase& c : cases) {
    SCOPED_TRACE(c.line);
    const auto parsed = ParseStat(c.line);
    ASSERT_EQ(parsed.has_value(), c.valid);
    if (!parsed) continue;
    EXPECT_EQ(parsed->pid, c.pid);
    EXPECT_EQ(parsed->ppid, c.ppid);
    EXPECT_EQ(parsed->name, c.name);
  }
}

TEST(ParseKibField, FindsTheNamedFieldOnly) {
  const char* rollup =
      "55d0c0a00000-7ffd1b9f7000 ---p 00000000 00:00 0                          [rollup]\n"
      "Rss:              104212 kB\n"
      "Pss:               61234 kB\n"
      "Pss_Anon:          40000 kB\n"
      "Shared_Clean:          0 kB\n"
      "Broken:             12 MB\n"
      "Empty:\n";
  EXPECT_EQ(ParseKibField(rollup, "Rss"), 104212);
  EXPECT_EQ(ParseKibField(rollup, "Pss"), 61234);
  EXPECT_EQ(ParseKibField(rollup, "Pss_Anon"), 40000);
  EXPECT_EQ(ParseKibField(rollup, "Shared_Clean"), 0);
  EXPECT_EQ(ParseKibField(rollup, "Ps"), std::nullopt);
  EXPECT_EQ(ParseKibField(rollup, "Swap"), std::nullopt);
  EXPECT_EQ(ParseKibField(rollup, "Broken"), std::nullopt);
  EXPECT_EQ(ParseKibField(rollup, "Empty"), std::nullopt);
  EXPECT_EQ(ParseKibField("Pss: 5 kB", "Pss"), 5);
}

std::vector<pid_t> Pids(const std::vector<ProcessEntry>& entries) {
  std::vector<pid_t> pids;
  for (const ProcessEntry& e : entries) pids.push_back(e.pid);
  return pids;
}

TEST(DescendantsOf, TakesTheWholeSubtreeAndNothingElse) {
  const std::vector<ProcessEntry> all = {
      {1, 0, "init"},   {10, 1, "test"},  {11, 10, "bwrap"}, {12, 11, "bwrap"},
      {13, 12, "web"},  {14, 10, "net"},  {20, 1, "Xvfb"},   {21, 20, "xkb"},
      // A table read while processes come and go may hold a cycle.
      {30, 31, "a"},    {31, 30, "b"},
  };
  EXPECT_EQ(Pids(DescendantsOf(10, all)), (std::vector<pid_t>{11, 14, 12, 13}));
  EXPECT_EQ(Pids(DescendantsOf(13, all)), (std::vector<pid_t>{}));
  EXPECT_EQ(Pids(DescendantsOf(99, all)), (std::vector<pid_t>{}));
  EXPECT_EQ(Pids(DescendantsOf(30, all)), (std::vector<pid_t>{31}));
}

TEST(MeasureTree, CountsThisProcessAndAChildItStarted) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Touches memory of its own so that it has a set size worth the name.
    std::vector<char> block(8 << 20, 1);
    pause();
    _exit(block[0]);
  }
  // The child shows up once it has run.
  TreeMemory tree;
  for (int i = 0; i < 200; ++i) {
    tree = MeasureTree(getpid());
    if (tree.processes.size() >= 2 && tree.processes[1].rssKib > 8 * 1024) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  ASSERT_EQ(tree.processes.size(), 2u);
  EXPECT_EQ(tree.processes[0].process.pid, getpid());
  EXPECT_EQ(tree.processes[1].process.pid, child);
  EXPECT_EQ(tree.processes[1].process.ppid, getpid());
  EXPECT_GT(tree.processes[1].rssKib, 8 * 1024);
  for (const ProcessMemory& p : tree.processes) {
    EXPECT_GT(p.pssKib, 0);
    EXPECT_LE(p.pssKib, p.rssKib);
  }
  EXPECT_EQ(tree.PssKib(), tree.processes[0].pssKib + tree.processes[1].pssKib);
  EXPECT_EQ(tree.RssKib(), tree.processes[0].rssKib + tree.processes[1].rssKib);
  EXPECT_TRUE(tree.PidsNamed("WebKit").empty());
  // Once it has gone, it is no longer counted.
  EXPECT_EQ(MeasureTree(getpid()).processes.size(), 1u);
}

}  // namespace
}  // namespace quillmere::endurance
