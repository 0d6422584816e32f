#include "text/CodePage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillmere::text {
namespace {

// windows-1252 for 0x80..0x9F. The undefined bytes map to themselves.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::array<char16_t, 256> MakeDecodeTable() {
  std::array<char16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = static_cast<char16_t>(b);
  for (unsigned i = 0; i < 32; ++i) table[0x80 + i] = kHigh[i];
  return table;
}
constexpr std::array<char16_t, 256> kDecode = MakeDecodeTable();

char EncodeChar(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (unsigned i = 0; i < 32; ++i)
    if (kHigh[i] == c) return static_cast<char>(0x80 + i);
  return '?';
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

void AppendFromCodePage(std::u16string& out, std::string_view bytes) {
  const size_t old = out.size();
  // Grow geometrically: the fetcher appends a page chunk by chunk.
  if (out.capacity() < old + bytes.size()) out.reserve(std::max(old + bytes.size(), 2 * out.capacity()));
  out.resize(old + bytes.size());
  char16_t* dst = out.data() + old;
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
#if defined(__SSE2__)
  // Pages are mostly ASCII, which maps to itself: sixteen bytes at a time are
  // widened unless one of them needs the table.
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= bytes.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(block) != 0) {
      for (size_t k = 0; k < 16; ++k) dst[i + k] = kDecode[src[i + k]];
      continue;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi8(block, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpackhi_epi8(block, zero));
  }
#endif
  for (; i < bytes.size(); ++i) dst[i] = kDecode[src[i]];
}

std::u16string FromCodePage(std::string_view bytes) {
  std::u16string out;
  AppendFromCodePage(out, bytes);
  return out;
}

std::string ToCodePage(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // A surrogate pair is one character that the code page cannot hold: one "?".
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
    out.push_back(EncodeChar(c));
  }
  return out;
}

void AppendAsUtf8(std::string& out, std::u16string_view piece, char16_t& pending) {
  // A high surrogate waits in `pending` for the character after it, in this
  // piece or the next, whichever it is in.
  for (const char16_t c : piece) {
    if (pending != 0) {
      const char16_t high = std::exchange(pending, 0);
      if (IsLowSurrogate(c)) {
        AppendUtf8(out, 0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00));
        continue;
      }
      AppendUtf8(out, 0xFFFD);
    }
    if (IsHighSurrogate(c)) {
      pending = c;
    } else {
      AppendUtf8(out, IsLowSurrogate(c) ? 0xFFFD : c);
    }
  }
}

void FinishUtf8(std::string& out, char16_t& pending) {
  if (pending != 0) AppendUtf8(out, 0xFFFD);
  pending = 0;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  char16_t pending = 0;
  AppendAsUtf8(out, text, pending);
  FinishUtf8(out, pending);
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    size_t need = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 < 0x80) { out.push_back(b0); ++i; continue; }
    if ((b0 & 0xE0) == 0xC0) { need = 1; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { need = 2; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { need = 3; cp = b0 & 0x07; min = 0x10000; }
    else { out.push_back(0xFFFD); ++i; continue; }
    if (i + need >= bytes.size()) { out.push_back(0xFFFD); ++i; continue; }
    bool ok = true;
    for (size_t k = 1; k <= need; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { out.push_back(0xFFFD); ++i; continue; }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += need + 1;
  }
  return out;
}

}  // namespace quillmere::text
