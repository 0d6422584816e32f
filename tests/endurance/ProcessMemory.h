// The memory of a process together with the processes it started, read from
// /proc: what the program costs the machine, its web processes included.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmere::endurance {

struct ProcessEntry {
  pid_t pid = 0;
  pid_t ppid = 0;
  std::string name;  // the kernel's short name (comm), at most 15 characters
};

// One line of /proc/PID/stat: "pid (comm) state ppid ...". The name may hold
// spaces and parentheses, so it runs to the last ')'. nullopt when the line
// is not of that shape.
std::optional<ProcessEntry> ParseStat(std::string_view line);

// The value in KiB of a "Name:   1234 kB" line of /proc/PID/smaps_rollup or
// /proc/PID/status; nullopt when the field is missing.
std::optional<long> ParseKibField(std::string_view text, std::string_view field);

// Every process below `root` in the tree that `all` describes, children
// before grandchildren; `root` itself is not included.
std::vector<ProcessEntry> DescendantsOf(pid_t root, const std::vector<ProcessEntry>& all);

// The processes of this machine, from /proc/*/stat; those that end while
// they are read are left out.
std::vector<ProcessEntry> ListProcesses();

struct ProcessMemory {
  ProcessEntry process;
  long pssKib = 0;  // proportional set size: shared pages split between sharers
  long rssKib = 0;
};

struct TreeMemory {
  std::vector<ProcessMemory> processes;  // the root first
  long PssKib() const;
  long RssKib() const;
  // The processes whose name starts with `prefix` ("WebKitWeb").
  std::vector<pid_t> PidsNamed(std::string_view prefix) const;
};

// The memory of `root` and of all its descendants now. A process that ends
// while it is read is left out.
TreeMemory MeasureTree(pid_t root);

}  // namespace quillmere::endurance
