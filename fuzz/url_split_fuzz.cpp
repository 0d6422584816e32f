// Fuzzes the URL split. A split that succeeds must hand out parts that stand
// in the URL as they are, within their limits, and that describe the URL
// completely: written back out in the usual form and split again, they give
// the same parts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "FuzzCheck.h"
#include "net/UrlSplit.h"

using namespace ModINET;

namespace {

auto Fields(const UrlParts& p) {
  return std::tie(p.scheme, p.schemeNumber, p.host, p.port, p.user, p.password, p.path, p.extra);
}

std::string Compose(const UrlParts& p) {
  std::string url = p.scheme + "://";
  if (!p.user.empty() || !p.password.empty()) url += p.user + (p.password.empty() ? "" : ":" + p.password) + "@";
  url += p.host;
  if (p.port != 0 && p.port != DefaultPort(p.schemeNumber)) url += ":" + std::to_string(p.port);
  return url + p.path + p.extra;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  UrlParts parts, again;
  if (!SplitUrl(url, parts)) return 0;
  FUZZ_CHECK(parts.scheme.size() <= kMaxSchemeLength && parts.host.size() <= kMaxHostLength &&
                 parts.user.size() <= kMaxUserLength && parts.password.size() <= kMaxPasswordLength &&
                 parts.path.size() <= kMaxPathLength && parts.extra.size() <= kMaxExtraLength,
             "a part exceeds its limit");
  FUZZ_CHECK(!parts.scheme.empty() && url.starts_with(parts.scheme + "://"), "the scheme is not the head of the URL");
  FUZZ_CHECK(url.ends_with(parts.path + parts.extra), "path and extra information are not the end of the URL");
  FUZZ_CHECK(parts.path.empty() || parts.path.front() == '/', "the path does not begin with \"/\"");
  FUZZ_CHECK(parts.path.find_first_of("?#") == std::string::npos, "the path holds extra information");
  FUZZ_CHECK(parts.extra.empty() || parts.extra.front() == '?' || parts.extra.front() == '#',
             "the extra information does not begin with \"?\" or \"#\"");
  FUZZ_CHECK(parts.host.find_first_of("/?#@") == std::string::npos, "the host runs into another part");
  FUZZ_CHECK(url.find(parts.host) != url.npos && url.find(parts.user) != url.npos &&
                 url.find(parts.password) != url.npos, "a part does not stand in the URL");
  FUZZ_CHECK(!parts.host.empty() || parts.schemeNumber == Scheme::File, "an empty host outside a file URL");
  FUZZ_CHECK(parts.port >= 0 && parts.port <= 65535, "port out of range");
  FUZZ_CHECK(parts.port != 0 || DefaultPort(parts.schemeNumber) == 0, "no port although the scheme has a default");
  FUZZ_CHECK(SplitUrl(Compose(parts), again) && Fields(parts) == Fields(again), "the parts written out split otherwise");
  return 0;
}
