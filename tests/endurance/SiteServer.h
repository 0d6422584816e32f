// An HTTP server on a thread of this process: by default the stand-in site on
// the port the program was built for.
#pragma once

#include <httplib.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "BuildConfig.h"
#include "Catalogue.h"
#include "Server.h"

namespace quillmere::endurance {

// The port of the site's host that the program was built for.
inline int BuiltSitePort() {
  const std::string_view host = QUILLMERE_SITE_HOST_LITERAL;
  const size_t colon = host.rfind(':');
  return colon == std::string_view::npos ? 80 : std::atoi(std::string(host.substr(colon + 1)).c_str());
}

class SiteServer {
 public:
  using Mount = std::function<void(httplib::Server&)>;
  // `port` 0 takes any free port.
  explicit SiteServer(int port = BuiltSitePort(), const Mount& mount = {}) {
    static const auto catalogue = *demosite::Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr);
    mount ? mount(server_) : demosite::MountSite(server_, catalogue, "http://127.0.0.1:8642/announce");
    port_ = port ? (server_.bind_to_port("127.0.0.1", port) ? port : -1) : server_.bind_to_any_port("127.0.0.1");
    if (port_ > 0) thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (ok() && !server_.is_running()) std::this_thread::yield();
  }
  ~SiteServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  // False when the port was taken.
  bool ok() const { return thread_.joinable(); }
  int port() const { return port_; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_;
};

}  // namespace quillmere::endurance
