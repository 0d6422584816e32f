// Routes the stand-in site's addresses to its pages on a cpp-httplib server.
#pragma once

#include <httplib.h>

#include <string>

#include "Catalogue.h"

namespace quillmere::demosite {

inline constexpr int kDefaultPort = 8642;

// Installs the site's handlers on `server`. `catalogue` must outlive the
// server; `announceUrl` goes into every .torrent file handed out.
void MountSite(httplib::Server& server, const Catalogue& catalogue, std::string announceUrl);

}  // namespace quillmere::demosite
