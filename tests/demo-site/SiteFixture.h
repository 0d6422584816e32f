// Shared by the stand-in site's tests: the shipped catalogue, a server on a
// free loopback port, and small text helpers.
#pragma once

#include <httplib.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Catalogue.h"

namespace quillmere::demosite::testing {

const Catalogue& ShippedCatalogue();

// The site served on 127.0.0.1 for the lifetime of the object.
class LoopbackSite {
 public:
  LoopbackSite();
  ~LoopbackSite();
  LoopbackSite(const LoopbackSite&) = delete;
  LoopbackSite& operator=(const LoopbackSite&) = delete;

  int Port() const { return port_; }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // GET of a path such as "/search.asp?query=x"; fails the test on no answer.
  httplib::Result Get(const std::string& target) const;

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

LoopbackSite& SharedSite();

// Every capture group 1 of `pattern` in `text`, in order.
std::vector<std::string> AllMatches(const std::string& text, const std::string& pattern);
size_t CountOf(std::string_view text, std::string_view needle);
size_t CountOf(std::u16string_view text, std::u16string_view needle);
std::string UnescapeAmp(std::string s);

}  // namespace quillmere::demosite::testing
