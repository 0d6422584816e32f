// The memory of a process together with the processes it started, read from
// /proc: what the program costs the machine, its web processes included.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace quillmere::endurance {

struct ProcessMemory {
  pid_t pid = 0;
  std::string name;  // the kernel's short name, at most 15 characters
  long pssKib = 0;   // proportional set size: shared pages split between sharers
  long cpuTicks = 0; // processor time, user and system, in clock ticks
};

struct TreeMemory {
  std::vector<ProcessMemory> processes;  // the root first, children before grandchildren
  long PssKib() const {
    long sum = 0;
    for (const ProcessMemory& p : processes) sum += p.pssKib;
    return sum;
  }
  // The processes whose name starts with `prefix` ("WebKitWeb"), in tree order.
  std::vector<pid_t> PidsNamed(std::string_view prefix) const {
    std::vector<pid_t> pids;
    for (const ProcessMemory& p : processes)
      if (p.name.starts_with(prefix)) pids.push_back(p.pid);
    return pids;
  }
};

// The memory of `root` and of all its descendants now. A process that ends
// while it is read is left out.
TreeMemory MeasureTree(pid_t root);

}  // namespace quillmere::endurance
