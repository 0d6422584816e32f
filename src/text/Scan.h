// Vectorised scans over 16-bit text, shared by the substring search and the
// one-scan link rewriting. The kernels are compiled twice, for SSE2 and for
// AVX2, and the faster one that the processor supports is used.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillmere::text::scan {

// The first position at or after `from` where `pattern` (not empty) starts, or
// std::u16string_view::npos.
size_t FindPattern(std::u16string_view text, size_t from, std::u16string_view pattern);

// Calls `onKey(context, position)` for every position of `text` that holds
// one of `keys` (1 to 8 characters), in increasing order.
using KeyCallback = void (*)(void* context, size_t position);
void ForEachKey(std::u16string_view text, std::u16string_view keys, KeyCallback onKey, void* context);

}  // namespace quillmere::text::scan
