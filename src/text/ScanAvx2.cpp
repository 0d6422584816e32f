// The scan kernels for AVX2, sixteen characters at a time. This file alone is
// compiled with -mavx2; it runs only where the processor has AVX2.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "text/ScanDispatch.h"

namespace quillmere::text::scan::avx2 {
namespace {

struct V {
  using Vec = __m256i;
  static constexpr size_t kLanes = 16;
  static Vec Load(const char16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static Vec Splat(char16_t c) { return _mm256_set1_epi16(static_cast<short>(c)); }
  static Vec Eq(Vec a, Vec b) { return _mm256_cmpeq_epi16(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
  static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  // _pext_u32 would need BMI2; compressing two bits per lane by hand keeps it AVX2 only.
  static uint32_t Mask(Vec v) {
    const __m128i packed = _mm_packs_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<uint32_t>(_mm_movemask_epi8(packed));
  }
};

}  // namespace

#include "text/ScanKernels.inc"

}  // namespace quillmere::text::scan::avx2
