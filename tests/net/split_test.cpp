// The URL split: what each part holds, where the limits lie, and what is not
// an absolute URL.
#include <gtest/gtest.h>

#include <string>

#include "net/UrlSplit.h"

namespace {

using ModINET::SplitUrl;
using ModINET::UrlParts;

// scheme|scheme number|host|port|user|password|path|extra
std::string Parts(const std::string& url) {
  UrlParts p;
  if (!SplitUrl(url, p)) return "fails";
  return p.scheme + "|" + std::to_string(static_cast<int>(p.schemeNumber)) + "|" + p.host + "|" +
         std::to_string(p.port) + "|" + p.user + "|" + p.password + "|" + p.path + "|" + p.extra;
}

TEST(SplitUrl, FillsEveryPartAsItStandsInTheUrl) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://site.test/search.asp?query=a&mode=1", "http|3|site.test|80|||/search.asp|?query=a&mode=1"},
      {"HTTPS://Site.Test", "HTTPS|4|Site.Test|443||||"},
      {"ftp://u:p@files.test:2121/pub/x.txt", "ftp|1|files.test|2121|u|p|/pub/x.txt|"},
      {"gopher://g.test/1", "gopher|2|g.test|70|||/1|"},
      {"http://h.test:65535/p#frag?x", "http|3|h.test|65535|||/p|#frag?x"},
      {"http://h.test:40000", "http|3|h.test|40000||||"},
      {"http://h.test:/p", "http|3|h.test|80|||/p|"},
      {"http://[::1]:8080/v6", "http|3|[::1]|8080|||/v6|"},
      {"http://user@h.test?q", "http|3|h.test|80|user|||?q"},
      {"http://u:p@ss@h.test/", "http|3|h.test|80|u|p@ss|/|"},
      {"http://h.test/a%20b?c%3Dd", "http|3|h.test|80|||/a%20b|?c%3Dd"},
      {"news+x://h.test/", "news+x|-1|h.test|0|||/|"},
      {"file:///etc/hosts", "file|5||0|||/etc/hosts|"},
  };
  for (const auto& [url, parts] : cases) EXPECT_EQ(Parts(url), parts) << url;
}

TEST(SplitUrl, FailsOnWhatIsNoAbsoluteUrlOrNoPort) {
  for (const char* url : {"", "not a url", "/search.asp?query=a", "search.asp", "http:/h.test/", "http:h.test",
                          "://h.test/", "1http://h.test/", "ht tp://h.test/", "http://", "http:///path",
                          "http://h.test:0/", "http://h.test:65536/", "http://h.test:99999999999/",
                          "http://h.test:8o/", "http://h.test:-1/", "http://[::1/", "http://[::1]x/"})
    EXPECT_EQ(Parts(url), "fails") << url;
}

TEST(SplitUrl, AcceptsEachPartAtItsLimitAndRefusesOneMore) {
  const std::pair<std::string (*)(size_t), size_t> cases[] = {
      {[](size_t n) { return std::string(n, 'x') + "://h/"; }, 254},
      {[](size_t n) { return "http://" + std::string(n, 'h') + "/"; }, 254},
      {[](size_t n) { return "http://" + std::string(n, 'u') + ":p@h/"; }, 254},
      {[](size_t n) { return "http://u:" + std::string(n, 'p') + "@h/"; }, 254},
      {[](size_t n) { return "http://h" + std::string(n, '/'); }, 1023},
      {[](size_t n) { return "http://h/p?" + std::string(n - 1, 'q'); }, 1023},
      {[](size_t n) { return "http://h/p#" + std::string(n - 1, 'f'); }, 1023},
  };
  for (const auto& [build, limit] : cases) {
    EXPECT_NE(Parts(build(limit)), "fails") << build(1);
    EXPECT_EQ(Parts(build(limit + 1)), "fails") << build(1);
  }
}

}  // namespace
