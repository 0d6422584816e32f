// Which addresses belong to the index site, and which hosts are on the local
// machine or network. The program fetches only the site's own pages, and its
// fetcher follows no redirect from a public site to a local address.
#pragma once

#include <string_view>

namespace quillmere::site {

// Whether `url` is an address of the site whose base URL is `siteBaseUrl`
// ("http://" + host[:port] + "/"): its scheme is http or https, and its host
// (in any letter case) and port (the scheme's default when none is named) are
// the site's. An address with a user name before its host is never the site's.
bool IsSiteAddress(std::u16string_view url, std::u16string_view siteBaseUrl);

// Whether `host`, an IP address (IPv6 in brackets or not) or a name, is on
// this machine or a private network: loopback, private, shared, link-local or
// unspecified addresses, and "localhost" with its subdomains. Other names are
// not resolved and count as public.
bool IsLocalHost(std::string_view host);

// Whether the site whose base URL is `siteBaseUrl` is on such a host.
bool IsSiteLocal(std::u16string_view siteBaseUrl);

}  // namespace quillmere::site
