#include "ProcessMemory.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <set>

namespace quillmere::endurance {

long TreeMemory::PssKib() const {
  return std::transform_reduce(processes.begin(), processes.end(), 0L, std::plus<>(), [](auto& p) { return p.pssKib; });
}

long TreeMemory::RssKib() const {
  return std::transform_reduce(processes.begin(), processes.end(), 0L, std::plus<>(), [](auto& p) { return p.rssKib; });
}

std::vector<pid_t> TreeMemory::PidsNamed(std::string_view prefix) const {
  std::vector<pid_t> pids;
  for (const ProcessMemory& p : processes) {
    if (p.name.starts_with(prefix)) pids.push_back(p.pid);
  }
  return pids;
}

TreeMemory MeasureTree(pid_t root) {
  struct Entry {
    pid_t pid, ppid;
    std::string name;
  };
  std::vector<Entry> all, members;
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/proc", ec)) {
    // Only the numbered entries: "self" would count this process twice.
    const std::string pid = dir.path().filename();
    std::string stat;
    if (pid.find_first_not_of("0123456789") != std::string::npos ||
        !std::getline(std::ifstream(dir.path() / "stat"), stat))
      continue;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses,
    // so it runs to the last ')'.
    const size_t open = stat.find('('), close = stat.rfind(')');
    int ppid = 0;
    if (close == std::string::npos || std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) != 1) continue;
    all.push_back({std::stoi(pid), ppid, stat.substr(open + 1, close - open - 1)});
    if (all.back().pid == root) members.push_back(all.back());
  }
  // Then its children, then theirs. Each pid is taken once, so that a table read while processes come and go
  // ends even should it hold a cycle.
  std::set<pid_t> seen{root};
  for (size_t i = 0; i < members.size(); ++i) {
    for (const Entry& e : all) {
      if (e.ppid == members[i].pid && seen.insert(e.pid).second) members.push_back(e);
    }
  }
  TreeMemory tree;
  for (const Entry& e : members) {
    std::ifstream in("/proc/" + std::to_string(e.pid) + "/smaps_rollup");
    long pss = -1, rss = -1;
    for (std::string line; std::getline(in, line);) {
      // "Pss_Anon:" and the like fail at the '_' and leave the value alone.
      std::sscanf(line.c_str(), "Pss: %ld", &pss);
      std::sscanf(line.c_str(), "Rss: %ld", &rss);
    }
    // A process that has just ended reads as an empty rollup.
    if (pss >= 0 && rss >= 0) tree.processes.push_back({e.pid, e.name, pss, rss});
  }
  return tree;
}

}  // namespace quillmere::endurance
