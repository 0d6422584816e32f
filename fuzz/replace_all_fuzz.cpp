// Fuzzes ReplaceAll (and Find, which shares its searcher) against plain
// reference implementations.
//
// Input: the find text and the replacement as two backslash-terminated
// strings (FuzzedDataProvider's ConsumeRandomLengthString), then the text.
// All three are read as UTF-8 so that characters sharing a low byte, which
// share a slot of the searcher's skip table, are within the fuzzer's reach.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "text/CodePage.h"
#include "text/ReplacePasses.h"
#include "text/Text.h"

namespace {

using quillmere::text::Find;
using quillmere::text::FromUtf8;
using quillmere::text::ReplaceAll;

struct Reference {
  std::u16string text;
  // Where each copy of the replacement stands in `text`, 0-based.
  std::vector<size_t> inserted;
};

// Left to right over the original only; what is appended to the output is
// never looked at again.
Reference ReferenceReplaceAll(std::u16string_view text, std::u16string_view find, std::u16string_view replacement) {
  Reference ref;
  if (find.empty()) {
    ref.text = std::u16string(text);
    return ref;
  }
  size_t pos = 0;
  for (size_t at = text.find(find); at != std::u16string_view::npos; at = text.find(find, pos)) {
    ref.text.append(text.substr(pos, at - pos));
    ref.inserted.push_back(ref.text.size());
    ref.text.append(replacement);
    pos = at + find.size();
  }
  ref.text.append(text.substr(pos));
  return ref;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::u16string find = FromUtf8(provider.ConsumeRandomLengthString(64));
  const std::u16string replacement = FromUtf8(provider.ConsumeRandomLengthString(64));
  const std::u16string text = FromUtf8(provider.ConsumeRemainingBytesAsString());

  const std::u16string result = ReplaceAll(text, find, replacement);
  const Reference ref = ReferenceReplaceAll(text, find, replacement);
  FUZZ_CHECK(result == ref.text, "ReplaceAll differs from the reference");

  // Taking every inserted copy out again, at the place where it went in, and
  // putting the find text back must give the original: the replacement was
  // inserted as a whole and nothing inserted was replaced again.
  std::u16string restored;
  size_t pos = 0;
  for (size_t at : ref.inserted) {
    FUZZ_CHECK(std::u16string_view(result).substr(at, replacement.size()) == replacement,
               "an inserted copy of the replacement is not where it went in");
    restored.append(result, pos, at - pos);
    restored.append(find);
    pos = at + replacement.size();
  }
  restored.append(result, pos);
  FUZZ_CHECK(restored == text, "taking the replacements out does not give back the original");

  // The several-pass form gives what the passes give one after the other,
  // whether or not it can take its one-scan shortcut for them: here a pass
  // and its undoing, then a pass that removes text.
  {
    using quillmere::text::Replacement;
    const Replacement single[] = {{find, replacement}};
    FUZZ_CHECK(quillmere::text::ReplaceInTurn(text, single) == result, "ReplaceInTurn of one pass differs from ReplaceAll");
    const Replacement passes[] = {{find, replacement}, {replacement, find}, {u"amp;", u""}};
    const std::u16string inTurn = ReplaceAll(ReplaceAll(result, replacement, find), u"amp;", u"");
    FUZZ_CHECK(quillmere::text::ReplaceInTurn(text, passes) == inTurn, "ReplaceInTurn differs from the passes in turn");
  }

  // Find from every start that the text allows, against std::u16string::find.
  if (!find.empty() && text.size() <= 4096) {
    for (size_t start = 0; start <= text.size(); start += 1 + text.size() / 16) {
      const size_t naive = text.find(find, start);
      const int32_t expected = naive == std::u16string::npos ? 0 : static_cast<int32_t>(naive + 1);
      FUZZ_CHECK(Find(static_cast<int32_t>(start + 1), text, find) == expected, "Find differs from a plain search");
    }
  }
  return 0;
}
