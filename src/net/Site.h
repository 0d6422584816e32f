// The index site the program talks to: its host and the absolute prefix of its
// addresses, which the user may change while the program runs, and the user
// agent that every request carries.
#pragma once

#include <string>
#include <string_view>

#include "BuildConfig.h"
#include "net/SiteAddress.h"

namespace quillmere::site {

// The address chosen at build time, QUILLMERE_SITE_HOST: the site until the
// program is told another.
inline constexpr std::string_view kDefaultAddress = QUILLMERE_SITE_HOST_LITERAL;

// The site in use: its host (with an optional ":port"), and its scheme, host
// and "/". Safe to read from any thread; each call gives the value that holds
// at that moment.
std::u16string SiteHost();
std::u16string SiteBaseUrl();

// Makes `address` the site in use from the next request on.
void UseSite(const SiteAddress& address);

// The build's address, parsed; should it not parse, it is taken as a plain
// host name.
SiteAddress DefaultSite();

inline constexpr std::u16string_view UserAgent = u"Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)";

}  // namespace quillmere::site
