#include "ProcessMemory.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace quillmere::endurance {

namespace {

std::optional<long> ParseNumber(std::string_view text) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

}  // namespace

std::optional<ProcessEntry> ParseStat(std::string_view line) {
  const size_t open = line.find(" (");
  const size_t close = line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2) return std::nullopt;
  const auto pid = ParseNumber(line.substr(0, open));
  // After the name: " S ppid ...".
  std::string_view rest = line.substr(close + 1);
  if (rest.size() < 4 || rest[0] != ' ' || rest[2] != ' ') return std::nullopt;
  rest.remove_prefix(3);
  const auto ppid = ParseNumber(rest.substr(0, rest.find(' ')));
  if (!pid || !ppid || *pid <= 0 || *ppid < 0) return std::nullopt;
  return ProcessEntry{static_cast<pid_t>(*pid), static_cast<pid_t>(*ppid),
                      std::string(line.substr(open + 2, close - open - 2))};
}

std::optional<long> ParseKibField(std::string_view text, std::string_view field) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (line.size() <= field.size() || !line.starts_with(field) || line[field.size()] != ':') continue;
    line.remove_prefix(field.size() + 1);
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    line.remove_prefix(first);
    const size_t unit = line.find(' ');
    if (unit == std::string_view::npos || line.substr(unit) != " kB") return std::nullopt;
    return ParseNumber(line.substr(0, unit));
  }
  return std::nullopt;
}

std::vector<ProcessEntry> DescendantsOf(pid_t root, const std::vector<ProcessEntry>& all) {
  std::multimap<pid_t, const ProcessEntry*> children;
  for (const ProcessEntry& p : all) {
    // A process is never its own child; pid 0's "children" are the roots.
    if (p.pid != p.ppid) children.emplace(p.ppid, &p);
  }
  std::vector<ProcessEntry> found;
  std::vector<pid_t> level{root};
  // Breadth first, so that a malformed table with a cycle still ends: each
  // pid is taken once.
  std::map<pid_t, bool> seen{{root, true}};
  while (!level.empty()) {
    std::vector<pid_t> next;
    for (pid_t parent : level) {
      const auto [first, last] = children.equal_range(parent);
      for (auto it = first; it != last; ++it) {
        if (seen[it->second->pid]) continue;
        seen[it->second->pid] = true;
        found.push_back(*it->second);
        next.push_back(it->second->pid);
      }
    }
    level.swap(next);
  }
  return found;
}

std::vector<ProcessEntry> ListProcesses() {
  std::vector<ProcessEntry> all;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (!ParseNumber(name)) continue;
    const auto stat = ReadFile("/proc/" + name + "/stat");
    if (!stat) continue;
    if (auto parsed = ParseStat(*stat)) all.push_back(std::move(*parsed));
  }
  return all;
}

long TreeMemory::PssKib() const {
  long sum = 0;
  for (const ProcessMemory& p : processes) sum += p.pssKib;
  return sum;
}

long TreeMemory::RssKib() const {
  long sum = 0;
  for (const ProcessMemory& p : processes) sum += p.rssKib;
  return sum;
}

std::vector<pid_t> TreeMemory::PidsNamed(std::string_view prefix) const {
  std::vector<pid_t> pids;
  for (const ProcessMemory& p : processes) {
    if (std::string_view(p.process.name).starts_with(prefix)) pids.push_back(p.process.pid);
  }
  return pids;
}

TreeMemory MeasureTree(pid_t root) {
  const std::vector<ProcessEntry> all = ListProcesses();
  std::vector<ProcessEntry> members;
  for (const ProcessEntry& p : all) {
    if (p.pid == root) members.push_back(p);
  }
  for (ProcessEntry& p : DescendantsOf(root, all)) members.push_back(std::move(p));

  TreeMemory tree;
  for (const ProcessEntry& p : members) {
    const std::string dir = "/proc/" + std::to_string(p.pid);
    const auto rollup = ReadFile(dir + "/smaps_rollup");
    if (!rollup) continue;
    const auto pss = ParseKibField(*rollup, "Pss");
    const auto rss = ParseKibField(*rollup, "Rss");
    // A process that has just ended reads as an empty rollup.
    if (!pss || !rss) continue;
    tree.processes.push_back({p, *pss, *rss});
  }
  return tree;
}

}  // namespace quillmere::endurance
