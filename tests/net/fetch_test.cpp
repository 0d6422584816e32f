// The fetcher against a recording fake facility: the calls on each path with
// their arguments, what every failing step leaves behind, and how the body and
// the Content-Type come back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "net/ModINET.h"
#include "net/Site.h"
#include "text/CodePage.h"

namespace {

using ModINET::FetchPage;
using ModINET::Handle;
using quillmere::text::ToCodePage;
using std::string_view;
using Log = std::vector<std::string>;

// A response as the fake serves it, and what the fetch makes of it.
struct Response {
  std::vector<std::string> chunks{"<html>", "body", "</html>"};
  std::optional<std::string> contentType = "text/html";
  int32_t bufferSize = 1024;
  int64_t lengthHint = -1;
  std::u16string text = u"<html>body</html>", type = u"text/html";
  long reads = 4;
};

// Serves a scripted response, logs every call as "Name(arg,...)" and fails
// call number `failingCall` (from 0) of the operation named `failing`.
// Handles: 1 the root, 2 the connection, 3 the request.
class FakeFacility : public ModINET::HttpFacility {
 public:
  std::string failing;
  int failingCall = 0;
  Response response;
  Log log;

  bool Split(string_view url, ModINET::UrlParts& parts) override {
    return Call("Split", url) && ModINET::SplitUrl(url, parts);
  }
  Handle OpenRoot(string_view agent) override { return Call("OpenRoot", agent) ? 1 : 0; }
  Handle Connect(Handle root, string_view host, int32_t port, string_view user, string_view password,
                 ModINET::Service service) override {
    return Call("Connect", root, host, port, user, password, static_cast<int>(service)) ? 2 : 0;
  }
  Handle OpenRequest(Handle connection, string_view verb, string_view path, string_view version,
                     string_view referrer, uint32_t flags) override {
    return Call("OpenRequest", connection, verb, path, version, referrer, Flags(flags)) ? 3 : 0;
  }
  bool SendRequest(Handle request, string_view headers, string_view body) override {
    return Call("SendRequest", request, headers, body);
  }
  Handle OpenUrl(Handle root, string_view url, uint32_t flags) override {
    return Call("OpenUrl", root, url, Flags(flags)) ? 3 : 0;
  }
  bool QueryContentType(Handle request, char* buffer, uint32_t size) override {
    const std::optional<std::string>& type = response.contentType;
    if (!Call("QueryContentType", request, size) || !type || type->size() >= size) return false;
    std::memcpy(buffer, type->c_str(), type->size() + 1);
    return true;
  }
  bool Read(Handle request, char* buffer, uint32_t size, uint32_t& count) override {
    count = 0;
    if (!Call("Read", request, size)) return false;
    if (reads_ < response.chunks.size()) {
      const std::string& chunk = response.chunks[reads_++];
      count = static_cast<uint32_t>(std::min<size_t>(chunk.size(), size));
      std::memcpy(buffer, chunk.data(), count);
    }
    return true;
  }
  void Close(Handle handle) override { Call("Close", handle); }
  int64_t BodyLengthHint(Handle) override { return response.lengthHint; }

 private:
  static std::string Flags(uint32_t f) {
    return std::string(f & ModINET::kFlagReload ? "R" : "") + (f & ModINET::kFlagSecure ? "S" : "") +
           (f & ~(ModINET::kFlagReload | ModINET::kFlagSecure) ? "?" : "");
  }
  template <typename... Args>
  bool Call(const std::string& name, const Args&... args) {
    std::ostringstream line;
    const char* separator = "";
    line << name << '(';
    ((line << separator << args, separator = ","), ...);
    log.push_back(line.str() + ')');
    return !(name == failing && calls_[name]++ == failingCall);
  }
  std::map<std::string, int> calls_;
  size_t reads_ = 0;
};

const std::u16string kUrl = u"http://site.test:8080/search.asp?query=dune&mode=1";
const std::u16string kCaller = u"caller's value";
const std::string kRef = ToCodePage(quillmere::site::SiteHost);
const Log kCloses{"Close(3)", "Close(2)", "Close(1)"};

struct PathCase {
  std::u16string url, post;
  int32_t mode;
  Log calls;  // from the connection to the Content-Type query
};

TEST(FetchPaths, MakeTheirCallsInOrderAndCloseInnermostFirst) {
  const PathCase cases[] = {
      // As both callers call; the text goes to the facility in the code page.
      {u"http://site.test:40000/caf\u00E9?q=\u20AC", u"", 1,
       {"Connect(1,site.test,40000,,,3)", "OpenUrl(1,http://site.test:40000/caf\xE9?q=\x80,R)"}},
      // Blanks are no data, whatever the mode; ftp and gopher never send data.
      {u"http://u:p@site.test:65535/a", u"   ", 0,
       {"Connect(1,site.test,65535,u,p,3)", "OpenUrl(1,http://u:p@site.test:65535/a,R)"}},
      {u"ftp://site.test/f", u"data", 1, {"Connect(1,site.test,21,,,1)", "OpenUrl(1,ftp://site.test/f,R)"}},
      {u"gopher://site.test/1", u"data", 1, {"Connect(1,site.test,70,,,2)", "OpenUrl(1,gopher://site.test/1,R)"}},
      // The URL's own query is not sent with data, and the data goes untrimmed.
      {kUrl, u" a=1 ", 1,
       {"Connect(1,site.test,8080,,,3)", "OpenRequest(2,POST,/search.asp,HTTP/1.1," + kRef + ",R)",
        "SendRequest(3,Content-Type: text/html, a=1 )"}},
      {kUrl, u" a=1 ", 0,
       {"Connect(1,site.test,8080,,,3)", "OpenRequest(2,GET,/search.asp? a=1 ,HTTP/1.1," + kRef + ",R)",
        "SendRequest(3,,)"}},
      {kUrl, u"b", -7,
       {"Connect(1,site.test,8080,,,3)", "OpenRequest(2,GET,/search.asp?b,HTTP/1.1," + kRef + ",R)",
        "SendRequest(3,,)"}},
      // The request with data to an https URL keeps its TLS.
      {u"https://site.test/login", u"x=1", 1,
       {"Connect(1,site.test,443,,,3)", "OpenRequest(2,POST,/login,HTTP/1.1," + kRef + ",RS)",
        "SendRequest(3,Content-Type: text/html,x=1)"}},
  };
  for (const PathCase& c : cases) {
    FakeFacility fake;
    std::u16string type = kCaller;
    EXPECT_EQ(FetchPage(fake, c.url, type, c.post, 1024, c.mode), u"<html>body</html>");
    EXPECT_EQ(type, u"text/html");
    Log expected{"Split(" + ToCodePage(c.url) + ")", "OpenRoot(Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0))"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    expected.insert(expected.end(), {"QueryContentType(3,255)", "Read(3,1024)", "Read(3,1024)", "Read(3,1024)",
                                     "Read(3,1024)", "Close(3)", "Close(2)", "Close(1)"});
    EXPECT_EQ(fake.log, expected);
  }
}

struct FailureCase {
  const char* failing;
  int failingCall;
  std::u16string post;
  const char* lastCall;  // the last call before the handles are closed
  size_t closes;         // how many of request, connection, root are closed
  std::u16string text, type;
};

TEST(FetchFailures, CloseWhatWasOpenedOnceInnermostFirstAndSetTheTypeOnlyOnceARequestIsOpen) {
  const FailureCase cases[] = {
      {"Split", 0, u"", "Split", 0, u"", kCaller},
      {"OpenRoot", 0, u"", "OpenRoot", 0, u"", kCaller},
      {"Connect", 0, u"", "Connect", 1, u"", kCaller},
      {"OpenRequest", 0, u"a=1", "OpenRequest", 2, u"", kCaller},
      {"SendRequest", 0, u"a=1", "SendRequest", 3, u"", kCaller},
      {"OpenUrl", 0, u"", "OpenUrl", 2, u"", kCaller},
      {"QueryContentType", 0, u"", "Read", 3, u"<html>body</html>", u""},
      {"Read", 2, u"", "Read", 3, u"<html>body", u"text/html"},
      {"Read", 0, u"a=1", "Read", 3, u"", u"text/html"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(std::string(c.failing) + " call " + std::to_string(c.failingCall));
    FakeFacility fake;
    fake.failing = c.failing;
    fake.failingCall = c.failingCall;
    std::u16string type = kCaller;
    EXPECT_EQ(FetchPage(fake, kUrl, type, c.post, 1024, 1), c.text);
    EXPECT_EQ(type, c.type);
    const auto firstClose = std::find_if(fake.log.begin(), fake.log.end(),
                                         [](const std::string& call) { return call.starts_with("Close("); });
    EXPECT_EQ(Log(firstClose, fake.log.end()), Log(kCloses.end() - static_cast<ptrdiff_t>(c.closes), kCloses.end()));
    ASSERT_NE(firstClose, fake.log.begin());
    EXPECT_THAT(firstClose[-1], ::testing::StartsWith(std::string(c.lastCall) + "("));
  }
}

TEST(FetchResponse, BodyIsReadUntilAnEmptyReadAndTheTypeIntoA255ByteBufferCutAtItsNul) {
  const Response cases[] = {
      // Short reads go on; an empty one ends the body.
      {.chunks = {"ab", "c", "", "never"}, .bufferSize = 7, .text = u"abc", .reads = 3},
      {.chunks = {std::string("\x80 caf\xE9", 6), std::string("a\0b", 3)},
       .text = std::u16string(u"\u20AC caf\u00E9a\0b", 9), .reads = 3},
      {.chunks = {}, .text = u"", .reads = 1},
      // The announced length only reserves memory, within a bound.
      {.lengthHint = 3},
      {.lengthHint = int64_t{1} << 40},
      {.contentType = std::string(254, 't'), .type = std::u16string(254, u't')},
      {.contentType = std::string(255, 't'), .type = u""},
      {.contentType = std::string("text\0tail", 9), .type = u"text"},
      {.contentType = std::string("\0text", 5), .type = u""},
      {.contentType = "text/html; charset=\xE9", .type = u"text/html; charset=\u00E9"},
  };
  for (const Response& c : cases) {
    SCOPED_TRACE(&c - cases);
    FakeFacility fake;
    fake.response = c;
    std::u16string type = kCaller;
    EXPECT_EQ(FetchPage(fake, kUrl, type, u"", c.bufferSize, 1), c.text);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "Read(3," + std::to_string(c.bufferSize) + ")"), c.reads);
  }
}

}  // namespace
