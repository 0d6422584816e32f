// Conversions between 16-bit text and the byte encodings the program meets:
// the narrow code page (windows-1252) that every text crossing the HTTP
// facility goes through, and UTF-8 for the toolkit.
#pragma once

#include <string>
#include <string_view>

namespace quillmere::text {

// Bytes in windows-1252 to text. Every byte maps to one character: 0x80..0x9F
// through the code page's table, and the five bytes that it leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) to the control characters of the same value.
std::u16string FromCodePage(std::string_view bytes);

// Appends the conversion of `bytes` to `out`; used by the fetcher chunk by
// chunk, which is exact because the code page has one byte per character.
void AppendFromCodePage(std::u16string& out, std::string_view bytes);

// The halves of a character outside the Basic Multilingual Plane.
constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Text to windows-1252. A character that the code page cannot hold becomes "?".
std::string ToCodePage(std::u16string_view text);

// Text to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Appends the UTF-8 of one piece of a text to `out`, so that a page written
// in pieces is never held twice. A high surrogate that ends the piece waits
// in `pending` (0 for none) for the next piece, and FinishUtf8 ends the text:
// a text converts the same in pieces as whole, wherever it is cut.
void AppendAsUtf8(std::string& out, std::u16string_view piece, char16_t& pending);
void FinishUtf8(std::string& out, char16_t& pending);

// UTF-8 to text. Malformed sequences become U+FFFD, one per bad byte.
std::u16string FromUtf8(std::string_view bytes);

}  // namespace quillmere::text
