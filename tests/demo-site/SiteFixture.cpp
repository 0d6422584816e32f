#include "SiteFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "Server.h"

namespace quillmere::demosite::testing {

const Catalogue& ShippedCatalogue() {
  static const Catalogue catalogue = [] {
    std::string error;
    auto loaded = Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, &error);
    if (!loaded) {
      throw std::runtime_error(error);
    }
    return std::move(*loaded);
  }();
  return catalogue;
}

LoopbackSite::LoopbackSite() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) {
    throw std::runtime_error("cannot bind a loopback port");
  }
  MountSite(server_, ShippedCatalogue(), BaseUrl() + "announce");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // Stopping a server that has not started listening would leave the thread
  // running, so the constructor returns only once it listens.
  while (!server_.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

LoopbackSite::~LoopbackSite() {
  server_.stop();
  thread_.join();
}

httplib::Result LoopbackSite::Get(const std::string& target) const {
  httplib::Client client("127.0.0.1", port_);
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(10, 0);
  auto result = client.Get(target.c_str());
  EXPECT_TRUE(result) << "no answer for " << target.substr(0, 200);
  return result;
}

LoopbackSite& SharedSite() {
  static LoopbackSite site;
  return site;
}

std::vector<std::string> AllMatches(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1].str());
  }
  return found;
}

size_t CountOf(std::string_view text, std::string_view needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

size_t CountOf(std::u16string_view text, std::u16string_view needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::u16string_view::npos; at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

std::string UnescapeAmp(std::string s) {
  for (size_t at = s.find("&amp;"); at != std::string::npos; at = s.find("&amp;", at + 1)) {
    s.erase(at + 1, 4);
  }
  return s;
}

}  // namespace quillmere::demosite::testing
