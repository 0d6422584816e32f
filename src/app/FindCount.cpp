#include "app/FindCount.h"

namespace quillmere::app {

void FindCount::Start(bool searched) {
  searched_ = searched;
  current_ = searched ? 1 : 0;
  count_ = 0;
}

void FindCount::Found(unsigned count) {
  count_ = count;
  if (current_ == 0 || current_ > count) current_ = 1;
}

bool FindCount::Step(int direction) {
  if (!searched_ || count_ == 0) return false;
  current_ = direction > 0 ? current_ % count_ + 1 : (current_ + count_ - 2) % count_ + 1;
  return true;
}

std::string FindCount::Text() const {
  if (!searched_) return "";
  return count_ ? std::to_string(current_) + " of " + std::to_string(count_) : "No match";
}

}  // namespace quillmere::app
