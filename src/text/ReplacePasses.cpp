#include "text/ReplacePasses.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "text/Scan.h"
#include "text/Text.h"

namespace quillmere::text {
namespace {

bool Contains(std::u16string_view haystack, std::u16string_view needle) {
  return haystack.find(needle) != std::u16string_view::npos;
}

// A proper, non-empty suffix of `a` that is also a prefix of `b`.
bool SuffixIsPrefix(std::u16string_view a, std::u16string_view b) {
  for (size_t n = 1; n < a.size() && n <= b.size(); ++n)
    if (a.substr(a.size() - n) == b.substr(0, n)) return true;
  return false;
}

// Two placements of the find texts can share characters.
bool CanOverlap(std::u16string_view a, std::u16string_view b) {
  return Contains(a, b) || Contains(b, a) || SuffixIsPrefix(a, b) || SuffixIsPrefix(b, a);
}

bool HasBorder(std::u16string_view s) { return SuffixIsPrefix(s, s); }

// A new occurrence of `later` after `earlier` has been inserted: inside the
// insertion, across either of its edges, or around it.
bool CanForm(std::u16string_view inserted, std::u16string_view later) {
  return Contains(inserted, later) || Contains(later, inserted) || SuffixIsPrefix(inserted, later) ||
         SuffixIsPrefix(later, inserted);
}

std::u16string InTurn(std::u16string_view text, std::span<const Replacement> passes) {
  std::u16string current(text);
  for (const Replacement& pass : passes) current = ReplaceAll(current, pass.find, pass.replacement);
  return current;
}

constexpr size_t kMaxPasses = 8;

// How common a character is in HTML, lowest for the rarest: punctuation that
// pages seldom use, then capitals, then small letters from the rarest to the
// commonest, digits, and last what every tag is made of.
int Commonness(char16_t c) {
  static constexpr std::u16string_view kOrder =
      u"?;|^~`!$%@*+{}[]\\()#&ZQXJKVBPYGFWMUCLDRHSNIOATEzqxjkvbpygfwmucldrhsnioate0123456789,_-.:'\"=/<> ";
  const size_t at = kOrder.find(c);
  if (at != std::u16string_view::npos) return static_cast<int>(at);
  // Other control characters and non-ASCII text are rare in markup.
  return c < 0x80 ? static_cast<int>(kOrder.size()) : 0;
}

// A character of each find text to scan for, chosen to be rare in pages, and
// its offset in the find text.
struct Key {
  char16_t c;
  size_t offset;
};

Key ChooseKey(std::u16string_view find) {
  Key key{find[0], 0};
  for (size_t i = 1; i < find.size(); ++i)
    if (Commonness(find[i]) < Commonness(key.c)) key = {find[i], i};
  return key;
}

// Makes every pass in one scan: the text is scanned for the key characters of
// all find texts at once, and a find text is compared in full only where its
// key stands. Find texts cannot overlap (CanReplaceInOneScan), so the matches,
// written out by increasing start, give what the passes in turn give. The
// result goes to `sink` in pieces.
class OneScan {
 public:
  OneScan(std::u16string_view text, std::span<const Replacement> passes, const PieceSink& sink)
      : text_(text), passes_(passes), sink_(sink) {
    for (size_t k = 0; k < passes.size(); ++k) {
      keys_[k] = ChooseKey(passes[k].find);
      maxOffset_ = std::max(maxOffset_, keys_[k].offset);
      size_t slot = distinct_.find(keys_[k].c);
      if (slot == std::u16string::npos) {
        slot = distinct_.size();
        distinct_.push_back(keys_[k].c);
      }
      passesByKey_[slot][passCountByKey_[slot]++] = static_cast<uint8_t>(k);
    }
  }

  void Run() && {
    scan::ForEachKey(text_, distinct_, &OneScan::OnKey, this);
    EmitBefore(std::numeric_limits<size_t>::max());
    Copy(text_.size());
  }

 private:
  struct Match {
    size_t start;
    size_t pass;
  };

  static void OnKey(void* context, size_t at) {
    auto* self = static_cast<OneScan*>(context);
    // Keys come in increasing order, so no match still to be found can start
    // before this key's position less the largest key offset.
    if (self->head_ < self->pending_.size()) self->EmitBefore(at >= self->maxOffset_ ? at - self->maxOffset_ : 0);
    self->CheckKeyAt(at);
  }

  void CheckKeyAt(size_t at) {
    const size_t slot = distinct_.find(text_[at]);
    for (size_t n = 0; n < passCountByKey_[slot]; ++n) {
      const size_t k = passesByKey_[slot][n];
      if (at < keys_[k].offset) continue;
      const size_t start = at - keys_[k].offset;
      const std::u16string_view find = passes_[k].find;
      // The first and last characters tell most passes sharing a key apart
      // before a full comparison.
      if (start + find.size() > text_.size() || text_[start] != find.front() ||
          text_[start + find.size() - 1] != find.back() ||
          std::memcmp(text_.data() + start, find.data(), find.size() * sizeof(char16_t)) != 0)
        continue;
      // Keep the few waiting matches ordered by start; nearly always the new
      // one goes last.
      if (pending_.size() == head_ || pending_.back().start < start) {
        pending_.push_back({start, k});
        continue;
      }
      auto it = pending_.end();
      const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(head_);
      while (it != first && (it - 1)->start > start) --it;
      pending_.insert(it, {start, k});
    }
  }

  void EmitBefore(size_t limit) {
    for (; head_ < pending_.size() && pending_[head_].start < limit; ++head_) {
      const Match& m = pending_[head_];
      const std::u16string_view replacement = passes_[m.pass].replacement;
      Copy(m.start);
      if (!replacement.empty()) sink_(replacement);
      copied_ = m.start + passes_[m.pass].find.size();
    }
    // Everything waiting has been written: start the queue over.
    if (head_ == pending_.size()) {
      pending_.clear();
      head_ = 0;
    }
  }

  // Hands on the text from what has been written up to `end`.
  void Copy(size_t end) {
    if (end > copied_) sink_(text_.substr(copied_, end - copied_));
  }

  std::u16string_view text_;
  std::span<const Replacement> passes_;
  const PieceSink& sink_;
  std::array<Key, kMaxPasses> keys_{};
  std::u16string distinct_;
  // For each distinct key, the passes keyed on it.
  std::array<std::array<uint8_t, kMaxPasses>, kMaxPasses> passesByKey_{};
  std::array<size_t, kMaxPasses> passCountByKey_{};
  size_t maxOffset_ = 0;
  std::vector<Match> pending_;  // ordered by start; those before head_ are written
  size_t head_ = 0;
  size_t copied_ = 0;  // text before this has been written out
};

}  // namespace

bool CanReplaceInOneScan(std::span<const Replacement> passes) {
  if (passes.size() > kMaxPasses) return false;
  for (size_t i = 0; i < passes.size(); ++i) {
    const Replacement& p = passes[i];
    if (p.find.empty() || HasBorder(p.find)) return false;
    // Removing text joins its neighbours, which any later pass might match.
    if (p.replacement.empty() && i + 1 != passes.size()) return false;
    for (size_t j = i + 1; j < passes.size(); ++j) {
      if (CanOverlap(p.find, passes[j].find)) return false;
      if (CanForm(p.replacement, passes[j].find)) return false;
    }
  }
  return true;
}

std::u16string ReplaceInTurn(std::u16string_view text, std::span<const Replacement> passes) {
  // The passes in turn make their own text; a scan's pieces are gathered.
  if (!passes.empty() && !CanReplaceInOneScan(passes)) return InTurn(text, passes);
  std::u16string out;
  out.reserve(text.size() + text.size() / 4);
  ReplaceInTurn(text, passes, [&out](std::u16string_view piece) { out += piece; });
  return out;
}

void ReplaceInTurn(std::u16string_view text, std::span<const Replacement> passes, const PieceSink& sink) {
  if (passes.empty()) {
    if (!text.empty()) sink(text);
  } else if (CanReplaceInOneScan(passes)) {
    OneScan(text, passes, sink).Run();
  } else {
    sink(InTurn(text, passes));
  }
}

}  // namespace quillmere::text
