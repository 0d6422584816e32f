// The page fetcher: one blocking HTTP retrieval per call, no state kept
// between calls, and no error reported beyond an empty result.
#pragma once

#include <cstdint>
#include <string>

#include "net/FetchReport.h"
#include "net/HttpFacility.h"

namespace ModINET {

// Fetches `url` and returns its body as text, decoded from the narrow code
// page. `contentType` receives the response's Content-Type once a request is
// open. Every failure before that yields the empty text and leaves
// `contentType` as the caller had it. Uses the libcurl facility with its
// default time-outs. What became of the fetch is left in LastFetchReport().
std::u16string FetchPage(const std::u16string& url, std::u16string& contentType,
                         const std::u16string& postData, int32_t bufferSize, int32_t mode);

// The same over a facility of the caller's choosing. Non-blank `postData` is
// sent to an http or https URL: as the body of a POST when `mode` is 1, as the
// query of a GET otherwise. Each read asks for `bufferSize` bytes.
std::u16string FetchPage(HttpFacility& facility, const std::u16string& url, std::u16string& contentType,
                         const std::u16string& postData, int32_t bufferSize, int32_t mode);

// The Content-Type of an open request, or the empty text when it has none or
// its value is longer than 254 bytes.
std::u16string QueryContentType(HttpFacility& facility, Handle request);

// The part of `text` before its first U+0000; the whole text when it has none.
std::u16string CutAtNul(const std::u16string& text);

}  // namespace ModINET
