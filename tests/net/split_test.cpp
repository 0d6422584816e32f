// The URL split: what each part holds, where the limits lie, and what is not
// an absolute URL.
#include <gtest/gtest.h>

#include <string>

#include "net/UrlSplit.h"

namespace {

using ModINET::Scheme;
using ModINET::SplitUrl;
using ModINET::UrlParts;

struct GoodCase {
  std::string url;
  std::string scheme;
  Scheme number;
  std::string host;
  int32_t port;
  std::string user, password, path, extra;
  friend void PrintTo(const GoodCase& c, std::ostream* os) { *os << c.url; }
};

class SplitGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(SplitGood, FillsEveryPart) {
  const GoodCase& c = GetParam();
  UrlParts parts;
  ASSERT_TRUE(SplitUrl(c.url, parts)) << c.url;
  EXPECT_EQ(parts.scheme, c.scheme);
  EXPECT_EQ(parts.schemeNumber, c.number);
  EXPECT_EQ(parts.host, c.host);
  EXPECT_EQ(parts.port, c.port);
  EXPECT_EQ(parts.user, c.user);
  EXPECT_EQ(parts.password, c.password);
  EXPECT_EQ(parts.path, c.path);
  EXPECT_EQ(parts.extra, c.extra);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, SplitGood,
    ::testing::Values(
        GoodCase{"http://site.test/search.asp?query=a&mode=1", "http", Scheme::Http, "site.test", 80, "", "",
                 "/search.asp", "?query=a&mode=1"},
        GoodCase{"HTTPS://Site.Test", "HTTPS", Scheme::Https, "Site.Test", 443, "", "", "", ""},
        GoodCase{"ftp://u:p@files.test:2121/pub/x.txt", "ftp", Scheme::Ftp, "files.test", 2121, "u", "p",
                 "/pub/x.txt", ""},
        GoodCase{"gopher://g.test/1", "gopher", Scheme::Gopher, "g.test", 70, "", "", "/1", ""},
        GoodCase{"http://h.test:65535/p#frag?x", "http", Scheme::Http, "h.test", 65535, "", "", "/p", "#frag?x"},
        GoodCase{"http://h.test:/p", "http", Scheme::Http, "h.test", 80, "", "", "/p", ""},
        GoodCase{"http://[::1]:8080/v6", "http", Scheme::Http, "[::1]", 8080, "", "", "/v6", ""},
        GoodCase{"http://user@h.test?q", "http", Scheme::Http, "h.test", 80, "user", "", "", "?q"},
        // Nothing is decoded.
        GoodCase{"http://h.test/a%20b?c%3Dd", "http", Scheme::Http, "h.test", 80, "", "", "/a%20b", "?c%3Dd"},
        GoodCase{"news+x://h.test/", "news+x", Scheme::Unknown, "h.test", 0, "", "", "/", ""},
        GoodCase{"file:///etc/hosts", "file", Scheme::File, "", 0, "", "", "/etc/hosts", ""}));

class SplitBad : public ::testing::TestWithParam<std::string> {};

TEST_P(SplitBad, Fails) {
  UrlParts parts;
  EXPECT_FALSE(SplitUrl(GetParam(), parts)) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Urls, SplitBad,
                         ::testing::Values("", "not a url", "/search.asp?query=a", "search.asp", "http:/h.test/",
                                           "http:h.test", "://h.test/", "1http://h.test/", "ht tp://h.test/",
                                           "http://", "http:///path", "http://h.test:0/", "http://h.test:65536/",
                                           "http://h.test:99999999999/", "http://h.test:8o/", "http://h.test:-1/",
                                           "http://[::1/", "http://[::1]x/"));

struct LimitCase {
  const char* name;
  std::string (*build)(size_t length);
  size_t limit;
  friend void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }
};

class SplitLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(SplitLimits, AcceptsThePartAtItsLimitAndRefusesOneMore) {
  const LimitCase& c = GetParam();
  UrlParts parts;
  EXPECT_TRUE(SplitUrl(c.build(c.limit), parts)) << c.name;
  EXPECT_FALSE(SplitUrl(c.build(c.limit + 1), parts)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Parts, SplitLimits,
    ::testing::Values(
        LimitCase{"scheme", [](size_t n) { return std::string(n, 'x') + "://h/"; }, 254},
        LimitCase{"host", [](size_t n) { return "http://" + std::string(n, 'h') + "/"; }, 254},
        LimitCase{"user", [](size_t n) { return "http://" + std::string(n, 'u') + ":p@h/"; }, 254},
        LimitCase{"password", [](size_t n) { return "http://u:" + std::string(n, 'p') + "@h/"; }, 254},
        LimitCase{"path", [](size_t n) { return "http://h" + std::string(n, '/'); }, 1023},
        LimitCase{"query", [](size_t n) { return "http://h/p?" + std::string(n - 1, 'q'); }, 1023},
        LimitCase{"fragment", [](size_t n) { return "http://h/p#" + std::string(n - 1, 'f'); }, 1023}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

}  // namespace
