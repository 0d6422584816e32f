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
  long rssKib = 0;
};

struct TreeMemory {
  std::vector<ProcessMemory> processes;  // the root first, children before grandchildren
  long PssKib() const;
  long RssKib() const;
  // The processes whose name starts with `prefix` ("WebKitWeb"), in tree order.
  std::vector<pid_t> PidsNamed(std::string_view prefix) const;
};

// The memory of `root` and of all its descendants now. A process that ends
// while it is read is left out.
TreeMemory MeasureTree(pid_t root);

}  // namespace quillmere::endurance
