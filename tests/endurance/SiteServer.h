// The stand-in site served from a thread of this process on the port the
// program was built for.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

#include "Catalogue.h"
#include "Server.h"

namespace quillmere::endurance {

class SiteServer {
 public:
  explicit SiteServer(int port = 8642)
      : catalogue_(*demosite::Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr)) {
    demosite::MountSite(server_, catalogue_, "http://127.0.0.1:" + std::to_string(port) + "/announce");
    if (!server_.bind_to_port("127.0.0.1", port)) return;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ok_ = true;
  }
  ~SiteServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  SiteServer(const SiteServer&) = delete;
  SiteServer& operator=(const SiteServer&) = delete;

  // False when the port was taken.
  bool ok() const { return ok_; }

 private:
  demosite::Catalogue catalogue_;
  httplib::Server server_;
  std::thread thread_;
  bool ok_ = false;
};

}  // namespace quillmere::endurance
