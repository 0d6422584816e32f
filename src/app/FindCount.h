// What a find bar says of its matches: "N of M", or "No match". The engine
// tells how many matches a page has but not which one it shows, so the count
// follows the steps from the first match found, wrapping at either end as
// the engine's search does.
#pragma once

#include <string>

namespace quillmere::app {

class FindCount {
 public:
  // A new search; an empty text searches for nothing and says nothing.
  void Start(bool searched);
  // The engine's answer to the search: `count` matches, or none.
  void Found(unsigned count);
  void NotFound() { current_ = count_ = 0; }
  // A step to the next match (`direction` > 0) or the previous one; false
  // when there is none to step to.
  bool Step(int direction);
  std::string Text() const;

 private:
  // The match shown, from 1, and how many there are; 0 of 0 is no match.
  unsigned current_ = 0;
  unsigned count_ = 0;
  bool searched_ = false;
};

}  // namespace quillmere::app
