// A sequence of ReplaceAll passes over one text, each pass working on what
// the previous one left. Where the passes cannot interact, which is the case
// for the results builder's link rewriting, all of them are made in one scan.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quillmere::text {

struct Replacement {
  std::u16string_view find;
  std::u16string_view replacement;
};

// The same result as ReplaceAll applied pass after pass, in order.
std::u16string ReplaceInTurn(std::u16string_view text, std::span<const Replacement> passes);

// True when one scan over the text gives exactly what the passes in turn
// give: no find text can overlap another or itself, no replacement can hold
// or, joined to its neighbours, form a find text of a later pass, and only the
// last pass may remove text outright.
bool CanReplaceInOneScan(std::span<const Replacement> passes);

}  // namespace quillmere::text
