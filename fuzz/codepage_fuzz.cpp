// Fuzzes the text conversions. Built twice: codepage_decode takes the input as
// bytes, the way every page body comes in (whole, and chunk by chunk as the
// fetcher appends it) and as UTF-8 from the toolkit; codepage_encode
// (QUILLMERE_FUZZ_ENCODE) reads it as UTF-16LE, so that any 16-bit text,
// unpaired surrogates included, goes out to the code page and to UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "text/CodePage.h"

using namespace quillmere::text;
using namespace quillmere::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#ifndef QUILLMERE_FUZZ_ENCODE
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = FromCodePage(bytes);
  // One character per byte, none a surrogate, and every byte, the five that
  // the code page leaves undefined included, comes back unchanged.
  FUZZ_CHECK(text.size() == bytes.size() && ToCodePage(text) == bytes, "code page bytes do not survive a round trip");
  FUZZ_CHECK(SurrogatesPaired(text) && FromUtf8(ToUtf8(text)) == text, "decoded text does not survive UTF-8");
  // Chunked decoding, with chunk sizes taken from the data itself, equals the decoding of the whole.
  std::u16string chunked;
  for (size_t pos = 0, chunk = 0; pos < bytes.size(); pos += chunk) {
    chunk = 1 + static_cast<unsigned char>(bytes[pos]) % 37;
    AppendFromCodePage(chunked, bytes.substr(pos, chunk));
  }
  FUZZ_CHECK(chunked == text, "chunked decoding differs from decoding the whole");
  // Read as UTF-8, whatever is malformed turns into U+FFFD: the result is well-formed and stable.
  const std::u16string fromUtf8 = FromUtf8(bytes);
  FUZZ_CHECK(fromUtf8.size() <= bytes.size() && SurrogatesPaired(fromUtf8), "UTF-8 decoding is not well-formed");
  FUZZ_CHECK(FromUtf8(ToUtf8(fromUtf8)) == fromUtf8, "decoded UTF-8 does not survive a round trip");
#else
  std::u16string text(size / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  // Code page: one byte per character, a surrogate pair counting as one; each
  // comes back as itself or, where the code page has no room for it, as "?".
  const std::u16string back = FromCodePage(ToCodePage(text));
  size_t j = 0;
  for (size_t i = 0; i < text.size(); ++i, ++j) {
    FUZZ_CHECK(j < back.size(), "fewer bytes than characters");
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      FUZZ_CHECK(back[j] == u'?', "a surrogate pair did not become one \"?\"");
      ++i;
    } else {
      const bool held = text[i] < 0x80 || (text[i] >= 0xA0 && text[i] <= 0xFF);
      FUZZ_CHECK(back[j] == text[i] || (!held && back[j] == u'?'), "a character changed into another");
    }
  }
  FUZZ_CHECK(j == back.size(), "more bytes than characters");
  // UTF-8: well-formed output that decodes to the text, every unpaired surrogate turned into U+FFFD.
  std::u16string expected = text;
  for (size_t i = 0; i < expected.size(); ++i) {
    if (IsHigh(expected[i]) && i + 1 < expected.size() && IsLow(expected[i + 1])) ++i;
    else if (IsHigh(expected[i]) || IsLow(expected[i])) expected[i] = 0xFFFD;
  }
  const std::string utf8 = ToUtf8(text);
  FUZZ_CHECK(FromUtf8(utf8) == expected && ToUtf8(FromUtf8(utf8)) == utf8, "text does not survive UTF-8");
#endif
  return 0;
}
