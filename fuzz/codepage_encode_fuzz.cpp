// Fuzzes the conversion from text to the narrow code page, the way every URL,
// header and post datum goes out, and the UTF-8 conversions for the toolkit.
// The input is read as UTF-16LE so that any 16-bit text, unpaired surrogates
// included, can be reached.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "text/CodePage.h"

using quillmere::text::FromCodePage;
using quillmere::text::FromUtf8;
using quillmere::text::ToCodePage;
using quillmere::text::ToUtf8;

namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

  // Code page: one byte per character, a surrogate pair counting as one; each
  // character comes back as itself or, where the code page has no room for
  // it, as "?".
  const std::string bytes = ToCodePage(text);
  const std::u16string back = FromCodePage(bytes);
  size_t j = 0;
  for (size_t i = 0; i < text.size(); ++i, ++j) {
    FUZZ_CHECK(j < back.size(), "fewer bytes than characters");
    const bool pair = IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1]);
    if (pair) {
      FUZZ_CHECK(back[j] == u'?', "a surrogate pair did not become one \"?\"");
      ++i;
    } else {
      FUZZ_CHECK(back[j] == text[i] || back[j] == u'?', "a character changed into another");
      // A character that the code page holds must not be replaced.
      if (text[i] < 0x80 || (text[i] >= 0xA0 && text[i] <= 0xFF))
        FUZZ_CHECK(back[j] == text[i], "a Latin-1 character was replaced");
    }
  }
  FUZZ_CHECK(j == back.size(), "more bytes than characters");

  // UTF-8: well-formed output that decodes to the text, with every unpaired
  // surrogate turned into U+FFFD.
  std::u16string expected = text;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (IsHigh(expected[i]) && i + 1 < expected.size() && IsLow(expected[i + 1])) {
      ++i;
    } else if (IsHigh(expected[i]) || IsLow(expected[i])) {
      expected[i] = 0xFFFD;
    }
  }
  const std::string utf8 = ToUtf8(text);
  FUZZ_CHECK(FromUtf8(utf8) == expected, "text does not survive UTF-8");
  FUZZ_CHECK(ToUtf8(FromUtf8(utf8)) == utf8, "well-formed UTF-8 does not survive a round trip");
  return 0;
}
