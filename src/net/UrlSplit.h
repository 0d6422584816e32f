// Splitting an absolute URL into the parts that the fetcher hands to the HTTP
// facility. Nothing is decoded or escaped: every part is the run of bytes that
// stands in the URL.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ModINET {

// Scheme numbers as the fetcher tells them apart; ftp and gopher pick their own
// service, everything else is served as HTTP.
enum class Scheme : int32_t {
  Unknown = -1,
  Ftp = 1,
  Gopher = 2,
  Http = 3,
  Https = 4,
  File = 5,
};

// The longest part that the split accepts, in bytes. A longer part fails the
// split rather than being cut, so that a truncated host or path is never used.
inline constexpr size_t kMaxSchemeLength = 254;
inline constexpr size_t kMaxHostLength = 254;
inline constexpr size_t kMaxUserLength = 254;
inline constexpr size_t kMaxPasswordLength = 254;
inline constexpr size_t kMaxPathLength = 1023;
inline constexpr size_t kMaxExtraLength = 1023;

struct UrlParts {
  std::string scheme;
  Scheme schemeNumber = Scheme::Unknown;
  std::string host;  // An IPv6 literal keeps its brackets.
  int32_t port = 0;  // 1..65535; the scheme's default when the URL names none (0 if it has none).
  std::string user;
  std::string password;
  std::string path;   // From the first "/" after the host up to "?" or "#".
  std::string extra;  // From the first "?" or "#" after the host to the end.
};

// The default port of a scheme, 0 for a scheme without one.
int32_t DefaultPort(Scheme scheme);

// Splits `url`, which must be absolute ("scheme://authority..."). Returns false,
// leaving `parts` unspecified, when it is not, when a part is longer than its
// limit above, or when the port is not a number from 1 to 65535.
bool SplitUrl(std::string_view url, UrlParts& parts);

}  // namespace ModINET
