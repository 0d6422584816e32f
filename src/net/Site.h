// What the program fixes about the index site: its host, the absolute prefix
// of its addresses and the user agent that every request carries.
#pragma once

#include <string_view>

#include "BuildConfig.h"

namespace quillmere::site {

// The host (with an optional ":port") chosen at build time, QUILLMERE_SITE_HOST.
inline constexpr std::u16string_view SiteHost = u"" QUILLMERE_SITE_HOST_LITERAL;

// "http://" + SiteHost + "/".
inline constexpr std::u16string_view SiteBaseUrl = u"http://" QUILLMERE_SITE_HOST_LITERAL "/";

inline constexpr std::u16string_view UserAgent = u"Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)";

}  // namespace quillmere::site
