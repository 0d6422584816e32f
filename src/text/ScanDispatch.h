// The kernels of each instruction set; Scan.cpp picks one at run time.
#pragma once

#include <cstddef>

namespace quillmere::text::scan {

#define QUILLMERE_SCAN_KERNELS                                                                        \
  size_t FindPattern(const char16_t* data, size_t size, size_t from, const char16_t* pat, size_t len); \
  void ForEachKey(const char16_t* data, size_t size, const char16_t* keys, size_t keyCount,           \
                  void (*onKey)(void*, size_t), void* context);

namespace generic {
QUILLMERE_SCAN_KERNELS
}
namespace avx2 {
QUILLMERE_SCAN_KERNELS
}

#undef QUILLMERE_SCAN_KERNELS

}  // namespace quillmere::text::scan
