#include <gtest/gtest.h>

#include <string>

#include "net/Site.h"
#include "net/SiteAddress.h"
#include "text/CodePage.h"

namespace {

using quillmere::site::ParseSiteAddress;
using quillmere::text::ToUtf8;

TEST(SiteAddress, AcceptsTheListedFormsAndGivesHostAndBase) {
  const struct {
    const char* text;
    const char* host;
    const char* base;
  } cases[] = {
      {"index.example.org", "index.example.org", "http://index.example.org/"},
      {"Index.Example.ORG:8080", "index.example.org:8080", "http://index.example.org:8080/"},
      {"localhost", "localhost", "http://localhost/"},
      {"http://127.0.0.1:8642", "127.0.0.1:8642", "http://127.0.0.1:8642/"},
      {"http://127.0.0.1:8642/", "127.0.0.1:8642", "http://127.0.0.1:8642/"},
      {"HTTPS://mirror-2.example.net/", "mirror-2.example.net", "https://mirror-2.example.net/"},
      {"https://a.example:443", "a.example:443", "https://a.example:443/"},
      {"[::1]", "[::1]", "http://[::1]/"},
      {"https://[2001:DB8::1]:65535/", "[2001:db8::1]:65535", "https://[2001:db8::1]:65535/"},
      {"x.example:1", "x.example:1", "http://x.example:1/"},
      {"x.example:00080", "x.example:80", "http://x.example:80/"},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseSiteAddress(c.text);
    ASSERT_TRUE(parsed.address) << c.text << ": " << parsed.refusal;
    EXPECT_EQ(ToUtf8(parsed.address->host), c.host) << c.text;
    EXPECT_EQ(ToUtf8(parsed.address->baseUrl), c.base) << c.text;
    EXPECT_EQ(parsed.refusal, "") << c.text;
  }
}

TEST(SiteAddress, RefusesEverythingElseWithOneSentence) {
  const struct {
    const char* text;
    const char* because;  // a word the sentence must hold
  } cases[] = {
      {"", "empty"},
      {"index.example.org ", "spaces"},
      {"index example.org", "spaces"},
      {"ftp://index.example.org", "http://"},
      {"file:///etc/passwd", "http://"},
      {"user@index.example.org", "user name"},
      {"http://user:pw@index.example.org/", "user name"},
      {"index.example.org/", "path"},
      {"http://index.example.org/search.asp", "path"},
      {"http://index.example.org//", "path"},
      {"index.example.org?q=1", "query"},
      {"http://index.example.org/#top", "query"},
      {"index.example.org:0", "port"},
      {"index.example.org:65536", "port"},
      {"index.example.org:", "port"},
      {"index.example.org:8o", "port"},
      {":8080", "no host"},
      {"http://", "no host"},
      {"-bad.example.org", "host name"},
      {"bad_name.example.org", "host name"},
      {"a..example.org", "host name"},
      {"256.1.1.1", "host name"},
      {"1.2.3", "host name"},
      {"01.2.3.4", "host name"},
      {"::1", "brackets"},
      {"[::1", "closed"},
      {"[::g]", "IPv6"},
      {"[::1]x", "port"},
      {"inde\xc3\xa9x.example.org", "letters"},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseSiteAddress(c.text);
    EXPECT_FALSE(parsed.address) << c.text;
    EXPECT_NE(parsed.refusal.find(c.because), std::string::npos) << c.text << ": " << parsed.refusal;
    EXPECT_EQ(parsed.refusal.back(), '.') << c.text;
    EXPECT_EQ(parsed.refusal.find('\n'), std::string::npos) << c.text;
  }
}

TEST(SiteAddress, TheSiteInUseFollowsUseSite) {
  const auto before = quillmere::site::SiteBaseUrl();
  EXPECT_EQ(before, quillmere::site::DefaultSite().baseUrl);
  quillmere::site::UseSite(*ParseSiteAddress("https://[::1]:9/").address);
  EXPECT_EQ(ToUtf8(quillmere::site::SiteHost()), "[::1]:9");
  EXPECT_EQ(ToUtf8(quillmere::site::SiteBaseUrl()), "https://[::1]:9/");
  quillmere::site::UseSite(quillmere::site::DefaultSite());
}

}  // namespace
