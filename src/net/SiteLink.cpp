#include "net/SiteLink.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "text/CodePage.h"
#include "text/Text.h"

namespace quillmere::site {
namespace {

struct Origin {
  std::u16string host;  // lower case
  int port = 0;
};

// The host and port of an http or https address; nullopt for any other
// scheme, for an authority with a user name, or a port that is no number.
std::optional<Origin> OriginOf(std::u16string_view url) {
  const std::u16string lower = text::Lower(url.substr(0, std::min<size_t>(url.size(), 8)));
  int port = 0;
  if (lower.starts_with(u"http://")) {
    url.remove_prefix(7), port = 80;
  } else if (lower.starts_with(u"https://")) {
    url.remove_prefix(8), port = 443;
  } else {
    return std::nullopt;
  }
  const std::u16string_view authority = url.substr(0, url.find_first_of(u"/?#"));
  if (authority.find(u'@') != std::u16string_view::npos) return std::nullopt;
  // An IPv6 literal keeps its brackets; its colons are no port.
  const size_t colon = authority.rfind(u':');
  const size_t bracket = authority.rfind(u']');
  std::u16string_view host = authority;
  if (colon != std::u16string_view::npos && (bracket == std::u16string_view::npos || colon > bracket)) {
    const std::u16string_view digits = authority.substr(colon + 1);
    if (digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
      return std::nullopt;
    if (!digits.empty()) {
      port = 0;
      for (char16_t c : digits) port = port * 10 + (c - u'0');
    }
    host = authority.substr(0, colon);
  }
  if (host.empty()) return std::nullopt;
  return Origin{text::Lower(host), port};
}

bool InRange(const std::array<uint8_t, 16>& address, const std::array<uint8_t, 16>& prefix, int bits) {
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const uint8_t mask = static_cast<uint8_t>(bits >= 8 ? 0xFF : 0xFF << (8 - bits));
    if ((address[i] & mask) != (prefix[i] & mask)) return false;
  }
  return true;
}

bool IsLocalV4(const uint8_t* a) {
  return a[0] == 127 || a[0] == 10 || a[0] == 0 || (a[0] == 172 && (a[1] & 0xF0) == 16) ||
         (a[0] == 192 && a[1] == 168) || (a[0] == 169 && a[1] == 254) || (a[0] == 100 && (a[1] & 0xC0) == 64);
}

}  // namespace

bool IsSiteAddress(std::u16string_view url, std::u16string_view siteBaseUrl) {
  const std::optional<Origin> link = OriginOf(url), site = OriginOf(siteBaseUrl);
  return link && site && link->host == site->host && link->port == site->port;
}

bool IsLocalHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  std::string name(host);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name == "localhost" || name.ends_with(".localhost")) return true;
  std::array<uint8_t, 16> a{};
  if (inet_pton(AF_INET, name.c_str(), a.data()) == 1) return IsLocalV4(a.data());
  if (inet_pton(AF_INET6, name.c_str(), a.data()) != 1) return false;
  // An IPv4 address mapped into IPv6 is judged as the IPv4 address it is.
  if (InRange(a, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 96)) return IsLocalV4(a.data() + 12);
  const std::array<uint8_t, 16> loopback = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return a == loopback || a == std::array<uint8_t, 16>{} || InRange(a, {0xFC}, 7) || InRange(a, {0xFE, 0x80}, 10);
}

bool IsSiteLocal(std::u16string_view siteBaseUrl) {
  const std::optional<Origin> site = OriginOf(siteBaseUrl);
  return site && IsLocalHost(text::ToUtf8(site->host));
}

}  // namespace quillmere::site
