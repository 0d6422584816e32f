// Fuzzes the conversion from the narrow code page to text, the way every page
// body comes in: whole, and chunk by chunk as the fetcher appends it; and
// the same bytes through the UTF-8 decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "text/CodePage.h"

using quillmere::text::AppendFromCodePage;
using quillmere::text::FromCodePage;
using quillmere::text::FromUtf8;
using quillmere::text::ToCodePage;
using quillmere::text::ToUtf8;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = FromCodePage(bytes);

  // One character per byte, and nothing lost: every byte, the five that the
  // code page leaves undefined included, comes back unchanged.
  FUZZ_CHECK(text.size() == bytes.size(), "not one character per byte");
  FUZZ_CHECK(ToCodePage(text) == bytes, "code page bytes do not survive a round trip");
  for (char16_t c : text) FUZZ_CHECK(c < 0xD800 || c > 0xDFFF, "a byte decoded to a surrogate");

  // Chunked decoding, with chunk sizes taken from the data itself, equals the
  // decoding of the whole.
  std::u16string chunked;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t chunk = 1 + static_cast<unsigned char>(bytes[pos]) % 37;
    AppendFromCodePage(chunked, bytes.substr(pos, chunk));
    pos += chunk;
  }
  FUZZ_CHECK(chunked == text, "chunked decoding differs from decoding the whole");

  // The text holds no surrogates, so it passes through UTF-8 unchanged.
  FUZZ_CHECK(FromUtf8(ToUtf8(text)) == text, "decoded text does not survive UTF-8");

  // The same bytes read as UTF-8, as the toolkit's texts come in: whatever is
  // malformed turns into U+FFFD, so the result is well-formed and stable.
  const std::u16string fromUtf8 = FromUtf8(bytes);
  FUZZ_CHECK(fromUtf8.size() <= bytes.size(), "UTF-8 decoding made more characters than bytes");
  for (size_t i = 0; i < fromUtf8.size(); ++i) {
    const char16_t c = fromUtf8[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      FUZZ_CHECK(i + 1 < fromUtf8.size() && fromUtf8[i + 1] >= 0xDC00 && fromUtf8[i + 1] <= 0xDFFF,
                 "UTF-8 decoding left an unpaired high surrogate");
      ++i;
    } else {
      FUZZ_CHECK(c < 0xDC00 || c > 0xDFFF, "UTF-8 decoding left an unpaired low surrogate");
    }
  }
  FUZZ_CHECK(FromUtf8(ToUtf8(fromUtf8)) == fromUtf8, "decoded UTF-8 does not survive a round trip");
  return 0;
}
