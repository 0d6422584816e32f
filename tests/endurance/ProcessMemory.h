// The memory of a process together with the processes it started, read from
// /proc: what the program costs the machine, its web processes included.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quillmere::endurance {

struct ProcessMemory {
  pid_t pid = 0;
  std::string name;  // the kernel's short name, at most 15 characters
  long pssKib = 0;   // proportional set size: shared pages split between sharers
  long cpuTicks = 0; // processor time, user and system, in clock ticks
};

// The memory of `root` and of all its descendants now, the root first and
// children before grandchildren. A process that ends while it is read is left
// out.
std::vector<ProcessMemory> MeasureTree(pid_t root);

// The memory of all of them together.
inline long PssKib(const std::vector<ProcessMemory>& tree) {
  long sum = 0;
  for (const ProcessMemory& p : tree) sum += p.pssKib;
  return sum;
}

}  // namespace quillmere::endurance
