// The address of the index site as a user gives it: "host", "host:port", or
// either after "http://" or "https://", with an optional "/" at the end.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmere::site {

struct SiteAddress {
  // The host with its port when the address names one: what requests carry
  // as the site's host, and what the page builder's base is made of.
  std::u16string host;
  // The scheme, the host and "/": the prefix of the site's absolute addresses.
  std::u16string baseUrl;

  bool operator==(const SiteAddress&) const = default;
};

struct ParsedSiteAddress {
  std::optional<SiteAddress> address;
  // One sentence that says why the text was refused; empty when accepted.
  std::string refusal;
};

// Accepts a DNS name, an IPv4 address or a bracketed IPv6 address as the
// host, and a port from 1 to 65535 that the web engine loads pages from.
// Anything else, blanks, another scheme, a user name, a path, a query or an
// empty text among it, is refused.
ParsedSiteAddress ParseSiteAddress(std::string_view text);

}  // namespace quillmere::site
