#include "text/Scan.h"

#include <cstdint>
#include <cstring>

#include "text/ScanDispatch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillmere::text::scan {
namespace generic {
namespace {

#if defined(__SSE2__)
struct V {
  using Vec = __m128i;
  static constexpr size_t kLanes = 8;
  static Vec Load(const char16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static Vec Splat(char16_t c) { return _mm_set1_epi16(static_cast<short>(c)); }
  static Vec Eq(Vec a, Vec b) { return _mm_cmpeq_epi16(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
  static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static uint32_t Mask(Vec v) { return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(v, v)) & 0xFF); }
};
#else
// One character at a time where there is no vector unit to use.
struct V {
  using Vec = char16_t;
  static constexpr size_t kLanes = 1;
  static Vec Load(const char16_t* p) { return *p; }
  static Vec Splat(char16_t c) { return c; }
  static Vec Eq(Vec a, Vec b) { return a == b ? 1 : 0; }
  static Vec Or(Vec a, Vec b) { return a | b; }
  static Vec And(Vec a, Vec b) { return a & b; }
  static uint32_t Mask(Vec v) { return v; }
};
#endif

}  // namespace

#include "text/ScanKernels.inc"

}  // namespace generic

#if defined(QUILLMERE_HAVE_AVX2_KERNELS)
namespace {

bool UseAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace
#endif

size_t FindPattern(std::u16string_view text, size_t from, std::u16string_view pattern) {
#if defined(QUILLMERE_HAVE_AVX2_KERNELS)
  if (UseAvx2()) return avx2::FindPattern(text.data(), text.size(), from, pattern.data(), pattern.size());
#endif
  return generic::FindPattern(text.data(), text.size(), from, pattern.data(), pattern.size());
}

void ForEachKey(std::u16string_view text, std::u16string_view keys, KeyCallback onKey, void* context) {
#if defined(QUILLMERE_HAVE_AVX2_KERNELS)
  if (UseAvx2()) return avx2::ForEachKey(text.data(), text.size(), keys.data(), keys.size(), onKey, context);
#endif
  generic::ForEachKey(text.data(), text.size(), keys.data(), keys.size(), onKey, context);
}

}  // namespace quillmere::text::scan
