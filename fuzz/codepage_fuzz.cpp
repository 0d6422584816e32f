// Fuzzes the text conversions with the input as bytes, the way every page body
// comes in (whole, and chunk by chunk as the fetcher appends it) and as UTF-8
// from the toolkit. The way out, one 16-bit character at a time, the unit
// tests cover for every character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "text/CodePage.h"

using namespace quillmere::text;
using namespace quillmere::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = FromCodePage(bytes);
  // One character per byte, none a surrogate, and every byte, the five that
  // the code page leaves undefined included, comes back unchanged.
  FUZZ_CHECK(text.size() == bytes.size() && ToCodePage(text) == bytes, "code page bytes do not survive a round trip");
  // UTF-8 turns an unpaired surrogate into U+FFFD, so the round trip also
  // holds that none came out of the code page.
  FUZZ_CHECK(FromUtf8(ToUtf8(text)) == text, "decoded text does not survive UTF-8");
  // Chunked decoding, with chunk sizes taken from the data itself, equals the decoding of the whole.
  std::u16string chunked;
  for (size_t pos = 0, chunk = 0; pos < bytes.size(); pos += chunk) {
    chunk = 1 + static_cast<unsigned char>(bytes[pos]) % 37;
    AppendFromCodePage(chunked, bytes.substr(pos, chunk));
  }
  FUZZ_CHECK(chunked == text, "chunked decoding differs from decoding the whole");
  // Read as UTF-8, whatever is malformed turns into U+FFFD: the result is well-formed and stable.
  const std::u16string fromUtf8 = FromUtf8(bytes);
  FUZZ_CHECK(fromUtf8.size() <= bytes.size(), "UTF-8 decoding made more characters than bytes");
  FUZZ_CHECK(FromUtf8(ToUtf8(fromUtf8)) == fromUtf8, "decoded UTF-8 does not survive a round trip");
  return 0;
}
