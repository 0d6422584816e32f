// A sequence of ReplaceAll passes over one text, each pass working on what
// the previous one left. Where the passes cannot interact, which is the case
// for the results builder's link rewriting, all of them are made in one scan.
#pragma once

#include <functional>
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

// Takes a result in pieces, in order.
using PieceSink = std::function<void(std::u16string_view piece)>;

// The same result handed to `sink` in pieces, the views of `text` between
// the matches and the replacements, so that it is never held whole. Only
// passes that cannot be made in one scan give their result in one piece.
void ReplaceInTurn(std::u16string_view text, std::span<const Replacement> passes, const PieceSink& sink);

// True when one scan over the text gives exactly what the passes in turn
// give: no find text can overlap another or itself, no replacement can hold
// or, joined to its neighbours, form a find text of a later pass, and only the
// last pass may remove text outright.
bool CanReplaceInOneScan(std::span<const Replacement> passes);

}  // namespace quillmere::text
