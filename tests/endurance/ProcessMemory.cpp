#include "ProcessMemory.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace quillmere::endurance {

std::vector<ProcessMemory> MeasureTree(pid_t root) {
  std::map<pid_t, std::pair<pid_t, ProcessMemory>> all;  // pid -> parent, process
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/proc", ec)) {
    // Only the numbered entries: "self" would count this process twice.
    const std::string pid = dir.path().filename();
    std::string stat;
    int ppid = 0;
    long user = 0, system = 0;
    if (pid.find_first_not_of("0123456789") != std::string::npos ||
        !std::getline(std::ifstream(dir.path() / "stat"), stat))
      continue;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses,
    // so it runs to the last ')'.
    const size_t open = stat.find('('), close = stat.rfind(')');
    const char* fields = " %*c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld";
    if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, fields, &ppid, &user, &system) == 3)
      all[std::stoi(pid)] = {ppid, {std::stoi(pid), stat.substr(open + 1, close - open - 1), 0, user + system}};
  }
  // The root, then its children, then theirs. Each pid is taken once, so that
  // a table read while processes come and go ends even should it hold a cycle.
  std::vector<pid_t> members{root};
  std::set<pid_t> seen{root};
  std::vector<ProcessMemory> tree;
  for (size_t i = 0; i < members.size(); ++i) {
    for (const auto& [pid, entry] : all)
      if (entry.first == members[i] && seen.insert(pid).second) members.push_back(pid);
    std::ifstream in("/proc/" + std::to_string(members[i]) + "/smaps_rollup");
    long pss = -1;
    // "Pss_Anon:" and the like fail at the '_' and leave the value alone.
    for (std::string line; std::getline(in, line);) std::sscanf(line.c_str(), "Pss: %ld", &pss);
    // A process that has just ended reads as an empty rollup.
    if (pss >= 0 && all.contains(members[i])) tree.push_back(all[members[i]].second), tree.back().pssKib = pss;
  }
  return tree;
}

}  // namespace quillmere::endurance
