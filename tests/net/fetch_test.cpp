// The fetcher's steps against the recording fake: which calls it makes in
// which order, with what, and what every failure leaves behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeFacility.h"
#include "net/ModINET.h"
#include "net/Site.h"
#include "text/CodePage.h"

namespace {

using ModINET::FetchPage;
using nettest::FakeFacility;
using nettest::Op;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::u16string kUrl = u"http://site.test:8080/search.asp?query=dune&mode=1";
const std::u16string kCallerType = u"caller's value";

std::vector<std::string> Calls(std::initializer_list<const char*> names) { return {names.begin(), names.end()}; }

TEST(FetchPaths, PlainCallMakesTheDirectRequestOfTheWholeUrl) {
  FakeFacility fake;
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 1024, 1), u"<html>body</html>");
  EXPECT_EQ(type, u"text/html");
  EXPECT_EQ(fake.calls, Calls({"Split", "OpenRoot", "Connect", "OpenUrl", "QueryContentType", "Read", "Read",
                               "Read", "Read", "Close", "Close", "Close"}));
  EXPECT_THAT(fake.closed, ElementsAre(FakeFacility::kRequest, FakeFacility::kConnection, FakeFacility::kRoot));
  EXPECT_EQ(fake.url, "http://site.test:8080/search.asp?query=dune&mode=1");
  EXPECT_EQ(fake.agent, quillmere::text::ToCodePage(quillmere::site::UserAgent));
  EXPECT_EQ(fake.host, "site.test");
  EXPECT_EQ(fake.port, 8080);
  EXPECT_EQ(fake.service, ModINET::Service::Http);
  EXPECT_NE(fake.flags & ModINET::kFlagReload, 0u);
}

TEST(FetchPaths, PostSendsTheDataAsBodyWithRefererAndContentType) {
  FakeFacility fake;
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u" a=1&b=2 ", 1024, 1), u"<html>body</html>");
  EXPECT_EQ(fake.calls, Calls({"Split", "OpenRoot", "Connect", "OpenRequest", "SendRequest", "QueryContentType",
                               "Read", "Read", "Read", "Read", "Close", "Close", "Close"}));
  EXPECT_THAT(fake.closed, ElementsAre(FakeFacility::kRequest, FakeFacility::kConnection, FakeFacility::kRoot));
  EXPECT_EQ(fake.verb, "POST");
  EXPECT_EQ(fake.path, "/search.asp");  // the URL's own query is not sent on this path
  EXPECT_EQ(fake.version, "HTTP/1.1");
  EXPECT_EQ(fake.referrer, quillmere::text::ToCodePage(quillmere::site::SiteHost));
  EXPECT_EQ(fake.headers, "Content-Type: text/html");
  EXPECT_EQ(fake.body, " a=1&b=2 ");  // trimmed only to decide, sent as given
  EXPECT_EQ(fake.flags, ModINET::kFlagReload);
}

class GetWithData : public ::testing::TestWithParam<int32_t> {};

TEST_P(GetWithData, AnyOtherModeAppendsTheUntrimmedDataToThePath) {
  FakeFacility fake;
  std::u16string type;
  FetchPage(fake, u"http://site.test/search.asp", type, u" q=x ", 1024, GetParam());
  EXPECT_EQ(fake.verb, "GET");
  EXPECT_EQ(fake.path, "/search.asp? q=x ");
  EXPECT_EQ(fake.headers, "");
  EXPECT_EQ(fake.body, "");
  EXPECT_EQ(fake.referrer, quillmere::text::ToCodePage(quillmere::site::SiteHost));
}

INSTANTIATE_TEST_SUITE_P(Modes, GetWithData, ::testing::Values(0, 2, -1, 1000));

TEST(FetchPaths, RequestWithDataToHttpsAsksForTls) {
  FakeFacility fake;
  std::u16string type;
  FetchPage(fake, u"https://site.test/login", type, u"x=1", 1024, 1);
  ASSERT_EQ(fake.verb, "POST");
  EXPECT_EQ(fake.port, 443);
  EXPECT_EQ(fake.flags, ModINET::kFlagReload | ModINET::kFlagSecure);
}

struct DirectCase {
  std::u16string url;
  std::u16string postData;
  ModINET::Service service;
  friend void PrintTo(const DirectCase& c, std::ostream* os) { *os << quillmere::text::ToCodePage(c.url); }
};

class DirectRequest : public ::testing::TestWithParam<DirectCase> {};

TEST_P(DirectRequest, IsMadeAndNoDataIsSent) {
  const DirectCase& c = GetParam();
  FakeFacility fake;
  std::u16string type;
  FetchPage(fake, c.url, type, c.postData, 1024, 1);
  EXPECT_EQ(fake.service, c.service);
  EXPECT_THAT(fake.calls, ::testing::Contains("OpenUrl"));
  EXPECT_THAT(fake.calls, ::testing::Not(::testing::Contains("OpenRequest")));
  EXPECT_THAT(fake.calls, ::testing::Not(::testing::Contains("SendRequest")));
  EXPECT_EQ(fake.url, quillmere::text::ToCodePage(c.url));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DirectRequest,
    ::testing::Values(DirectCase{u"http://site.test/a", u"   ", ModINET::Service::Http},  // blanks count as none
                      DirectCase{u"http://site.test/a", u"", ModINET::Service::Http},
                      DirectCase{u"ftp://site.test/file", u"data", ModINET::Service::Ftp},
                      DirectCase{u"gopher://site.test/1", u"data", ModINET::Service::Gopher}));

// What each failing step leaves: which handles are closed, in which order,
// what becomes of the caller's Content-Type, and what text comes back.
struct FailureCase {
  const char* name;
  Op failing;
  std::u16string postData;
  std::vector<ModINET::Handle> closed;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class FailureTable : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTable, ReturnsEmptyClosesWhatWasOpenedAndKeepsTheCallersType) {
  const FailureCase& c = GetParam();
  FakeFacility fake;
  fake.failing = c.failing;
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, c.postData, 1024, 1), u"");
  EXPECT_EQ(type, kCallerType);
  EXPECT_THAT(fake.closed, ElementsAreArray(c.closed));
  EXPECT_THAT(fake.calls, ::testing::Not(::testing::Contains("Read")));
}

constexpr ModINET::Handle kRoot = FakeFacility::kRoot;
constexpr ModINET::Handle kConn = FakeFacility::kConnection;
constexpr ModINET::Handle kReq = FakeFacility::kRequest;

INSTANTIATE_TEST_SUITE_P(
    Steps, FailureTable,
    ::testing::Values(FailureCase{"Split", Op::Split, u"", {}}, FailureCase{"Root", Op::OpenRoot, u"", {}},
                      FailureCase{"Connect", Op::Connect, u"", {kRoot}},
                      FailureCase{"OpenRequest", Op::OpenRequest, u"a=1", {kConn, kRoot}},
                      FailureCase{"SendRequest", Op::SendRequest, u"a=1", {kReq, kConn, kRoot}},
                      FailureCase{"OpenUrl", Op::OpenUrl, u"", {kConn, kRoot}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(FetchFailures, ContentTypeQueryFailureEmptiesTheTypeAndTheBodyStillComes) {
  FakeFacility fake;
  fake.failing = Op::QueryContentType;
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 1024, 1), u"<html>body</html>");
  EXPECT_EQ(type, u"");
  EXPECT_THAT(fake.closed, ElementsAre(kReq, kConn, kRoot));
}

TEST(FetchFailures, FailedReadKeepsTheTextBeforeItAndClosesEverything) {
  FakeFacility fake;
  fake.readsBeforeFailure = 2;
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 1024, 1), u"<html>body");
  EXPECT_EQ(type, u"text/html");
  EXPECT_THAT(fake.closed, ElementsAre(kReq, kConn, kRoot));
}

TEST(FetchFailures, FailedReadOnTheRequestWithDataClosesTheSameWay) {
  FakeFacility fake;
  fake.readsBeforeFailure = 0;
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"a=1", 1024, 1), u"");
  EXPECT_EQ(type, u"text/html");
  EXPECT_THAT(fake.closed, ElementsAre(kReq, kConn, kRoot));
}

TEST(FetchBody, ShortReadsDoNotEndTheBodyAndEveryReadAsksForTheBufferSize) {
  FakeFacility fake;
  fake.chunks = {"ab", "c", "", "never"};  // an empty read ends the body
  std::u16string type;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 7, 1), u"abc");
  EXPECT_THAT(fake.readSizes, ElementsAre(7u, 7u, 7u));
}

TEST(FetchBody, BytesAreDecodedFromTheCodePageAndNulsKept) {
  FakeFacility fake;
  fake.chunks = {std::string("\x80 caf\xE9", 6), std::string("a\0b", 3)};
  std::u16string type;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 1024, 1), std::u16string(u"\u20AC caf\u00E9a\0b", 9));
}

TEST(FetchBody, AnnouncedLengthDoesNotDecideTheBody) {
  for (int64_t hint : {int64_t{-1}, int64_t{0}, int64_t{3}, int64_t{1} << 40}) {
    FakeFacility fake;
    fake.lengthHint = hint;
    std::u16string type;
    EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 1024, 1), u"<html>body</html>") << hint;
  }
}

TEST(FetchBody, EmptyBodyYieldsEmptyTextButSetsTheType) {
  FakeFacility fake;
  fake.chunks = {};
  std::u16string type = kCallerType;
  EXPECT_EQ(FetchPage(fake, kUrl, type, u"", 1024, 1), u"");
  EXPECT_EQ(type, u"text/html");
}

TEST(FetchUrl, TextIsConvertedToTheCodePageForTheFacility) {
  FakeFacility fake;
  std::u16string type;
  FetchPage(fake, u"http://site.test/caf\u00E9?\u20AC", type, u"", 1024, 1);
  EXPECT_EQ(fake.url, "http://site.test/caf\xE9?\x80");
}

TEST(FetchUrl, PortsAboveTheSignedShortRangeReachTheConnection) {
  for (int32_t port : {32767, 32768, 40000, 65535}) {
    FakeFacility fake;
    std::u16string type;
    FetchPage(fake, u"http://site.test:" + quillmere::text::FromCodePage(std::to_string(port)) + u"/", type, u"x",
              1024, 1);
    EXPECT_EQ(fake.port, port);
  }
}

TEST(FetchUrl, UnsplittableUrlsOpenNothing) {
  for (const std::u16string& url : {std::u16string(u"not a url"), std::u16string(u"/search.asp"),
                                    u"http://" + std::u16string(255, u'h') + u"/",
                                    u"http://h/?" + std::u16string(1023, u'q')}) {
    FakeFacility fake;
    std::u16string type = kCallerType;
    EXPECT_EQ(FetchPage(fake, url, type, u"", 1024, 1), u"");
    EXPECT_EQ(type, kCallerType);
    EXPECT_EQ(fake.calls, Calls({"Split"}));
  }
}

struct TypeCase {
  std::optional<std::string> header;
  std::u16string expected;
  friend void PrintTo(const TypeCase& c, std::ostream* os) { *os << (c.header ? c.header->size() : 0) << " bytes"; }
};

class ContentTypeTable : public ::testing::TestWithParam<TypeCase> {};

TEST_P(ContentTypeTable, IsReadIntoA255ByteBufferAndCutAtNul) {
  FakeFacility fake;
  fake.contentType = GetParam().header;
  std::u16string type = kCallerType;
  FetchPage(fake, kUrl, type, u"", 1024, 1);
  EXPECT_EQ(type, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ContentTypeTable,
    ::testing::Values(TypeCase{std::nullopt, u""}, TypeCase{"text/plain", u"text/plain"},
                      TypeCase{std::string(254, 't'), std::u16string(254, u't')},
                      TypeCase{std::string(255, 't'), u""}, TypeCase{std::string("text\0tail", 9), u"text"},
                      TypeCase{"text/html; charset=\xE9", u"text/html; charset=\u00E9"}));

TEST(CutAtNul, CutsAtTheFirstNulOnly) {
  EXPECT_EQ(ModINET::CutAtNul(u""), u"");
  EXPECT_EQ(ModINET::CutAtNul(u"abc"), u"abc");
  EXPECT_EQ(ModINET::CutAtNul(std::u16string(u"\0abc", 4)), u"");
  EXPECT_EQ(ModINET::CutAtNul(std::u16string(u"ab\0c\0d", 6)), u"ab");
  EXPECT_EQ(ModINET::CutAtNul(std::u16string(u"abc\0", 4)), u"abc");
}

}  // namespace
