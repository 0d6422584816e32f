// The stand-in site served from a thread of this process on the port the
// program was built for.
#pragma once

#include <httplib.h>

#include <thread>

#include "Catalogue.h"
#include "Server.h"

namespace quillmere::endurance {

class SiteServer {
 public:
  SiteServer() {
    demosite::MountSite(server_, catalogue_, "http://127.0.0.1:8642/announce");
    if (server_.bind_to_port("127.0.0.1", 8642)) thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (ok() && !server_.is_running()) std::this_thread::yield();
  }
  ~SiteServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  // False when the port was taken.
  bool ok() const { return thread_.joinable(); }

 private:
  demosite::Catalogue catalogue_ = *demosite::Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr);
  httplib::Server server_;
  std::thread thread_;
};

}  // namespace quillmere::endurance
