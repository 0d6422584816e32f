#include "net/Site.h"

#include <mutex>

#include "text/CodePage.h"

namespace quillmere::site {

namespace {

// A fetch reads the site on its worker thread while the user may change it on
// the interface thread.
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

SiteAddress& Current() {
  static SiteAddress current = DefaultSite();
  return current;
}

}  // namespace

SiteAddress DefaultSite() {
  ParsedSiteAddress parsed = ParseSiteAddress(kDefaultAddress);
  if (parsed.address) return *parsed.address;
  const std::u16string host = text::FromUtf8(kDefaultAddress);
  return {host, u"http://" + host + u"/"};
}

std::u16string SiteHost() {
  std::lock_guard<std::mutex> guard(Lock());
  return Current().host;
}

std::u16string SiteBaseUrl() {
  std::lock_guard<std::mutex> guard(Lock());
  return Current().baseUrl;
}

void UseSite(const SiteAddress& address) {
  std::lock_guard<std::mutex> guard(Lock());
  Current() = address;
}

}  // namespace quillmere::site
