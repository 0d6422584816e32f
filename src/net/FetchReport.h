// What became of a fetch, beside the text that the fetcher returns: the page
// fetcher reports no errors through its result, so the reason a fetch failed,
// the status that came and where the fetch ended travel on this side channel.
#pragma once

#include <string>

namespace ModINET {

enum class FetchFailure {
  None,
  NameNotFound,
  ConnectionRefused,
  ConnectTimeout,
  Stalled,
  TotalTimeout,
  Tls,
  TooLarge,
  TooManyRedirects,
  RefusedRedirect,
  Cancelled,
  Other
};

struct FetchReport {
  FetchFailure failure = FetchFailure::None;
  int status = 0;        // the HTTP status of the last response, 0 when none came
  std::string reason;    // its reason phrase ("Service Unavailable"), empty when none
  std::string finalUrl;  // the address the fetch ended at, after redirects
};

// The report of the last FetchPage made on the calling thread.
const FetchReport& LastFetchReport();

}  // namespace ModINET
