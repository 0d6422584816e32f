// The page fetcher: one blocking HTTP retrieval per call, no state kept
// between calls, and no error reported beyond an empty result.
#pragma once

#include <cstdint>
#include <string>

namespace ModINET {

// Fetches `url` and returns its body as text, decoded from the narrow code
// page. `contentType` receives the response's Content-Type once a request is
// open. Every failure before that yields the empty text and leaves
// `contentType` as the caller had it.
std::u16string FetchPage(const std::u16string& url, std::u16string& contentType,
                         const std::u16string& postData, int32_t bufferSize, int32_t mode);

// The part of `text` before its first U+0000; the whole text when it has none.
std::u16string CutAtNul(const std::u16string& text);

}  // namespace ModINET
