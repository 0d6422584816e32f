// Fuzzes ReplaceAll and ReplaceInTurn against the plain references. Find,
// which shares their searcher, the unit tests hold against a plain scan at
// every offset.
//
// Input: the find text and the replacement as two backslash-terminated
// strings (FuzzedDataProvider's ConsumeRandomLengthString), then the text.
// All three are read as UTF-8 so that characters sharing a low byte, which
// share a slot of the searcher's skip table, are within the fuzzer's reach.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "text/CodePage.h"
#include "text/ReplacePasses.h"
#include "text/Text.h"

using namespace quillmere::text;
using quillmere::fuzz::ReplaceAllReference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::u16string find = FromUtf8(provider.ConsumeRandomLengthString(64));
  const std::u16string replacement = FromUtf8(provider.ConsumeRandomLengthString(64));
  const std::u16string text = FromUtf8(provider.ConsumeRemainingBytesAsString());

  std::vector<size_t> inserted;
  const std::u16string result = ReplaceAll(text, find, replacement);
  FUZZ_CHECK(result == ReplaceAllReference(text, find, replacement, &inserted), "ReplaceAll differs from the reference");

  // Taking every inserted copy out again and putting the find text back gives
  // the original: the replacement went in whole and was never replaced again.
  std::u16string restored;
  size_t pos = 0;
  for (size_t at : inserted) {
    FUZZ_CHECK(result.compare(at, replacement.size(), replacement) == 0, "an inserted copy is not where it went in");
    restored.append(result, pos, at - pos).append(find);
    pos = at + replacement.size();
  }
  FUZZ_CHECK(restored.append(result, pos) == text, "taking the replacements out does not give back the original");

  // The several-pass form gives what the passes give one after the other,
  // whether or not it can take its one-scan shortcut for them: here a pass
  // and its undoing, then a pass that removes text.
  const Replacement single[] = {{find, replacement}};
  FUZZ_CHECK(ReplaceInTurn(text, single) == result, "ReplaceInTurn of one pass differs from ReplaceAll");
  const Replacement passes[] = {{find, replacement}, {replacement, find}, {u"amp;", u""}};
  const std::u16string inTurn = ReplaceAllReference(ReplaceAllReference(result, replacement, find), u"amp;", u"");
  FUZZ_CHECK(ReplaceInTurn(text, passes) == inTurn, "ReplaceInTurn differs from the passes in turn");

  return 0;
}
