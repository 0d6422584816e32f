// The fetcher on the libcurl facility against servers on loopback: what goes
// over the wire and what comes back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoopbackServers.h"
#include "net/CurlFacility.h"
#include "net/ModINET.h"
#include "net/Site.h"
#include "text/CodePage.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using nettest::EnvGuard;
using nettest::HttpServer;
using nettest::RawServer;
using quillmere::text::FromCodePage;
using quillmere::text::ToCodePage;

const std::u16string kCallerType = u"caller's value";

std::string Port(int port) { return std::to_string(port); }

std::string Response(std::string_view headers, std::string_view body) {
  return "HTTP/1.1 200 OK\r\n" + std::string(headers) + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + std::string(body);
}

// Answers every request with `response` and records the requests.
RawServer::Handler Answer(std::string response) {
  return [response](int fd, RawServer& server) {
    server.Record(nettest::ReadRequest(fd));
    nettest::SendAll(fd, response);
  };
}

// No proxy reaches these tests unless a test asks for one.
class Loopback : public ::testing::Test {
 protected:
  std::u16string Fetch(const std::string& url, std::u16string& type, const std::u16string& post = u"",
                       int32_t mode = 1, int32_t bufferSize = 1024, ModINET::Timeouts timeouts = {}) {
    ModINET::CurlFacility facility(timeouts, [](const std::string&) { return std::string(); });
    return ModINET::FetchPage(facility, FromCodePage(url), type, post, bufferSize, mode);
  }

  EnvGuard noProxy_{"no_proxy", "*"};
  EnvGuard noProxyUpper_{"NO_PROXY", nullptr};
  EnvGuard http_{"http_proxy", nullptr};
  EnvGuard https_{"https_proxy", nullptr};
  EnvGuard httpsUpper_{"HTTPS_PROXY", nullptr};
  EnvGuard all_{"all_proxy", nullptr};
  EnvGuard allUpper_{"ALL_PROXY", nullptr};
};

TEST_F(Loopback, DirectRequestSendsAgentAndNoCacheHeadersOnAHighPort) {
  RawServer server(Answer(Response("Content-Type: text/html; charset=utf-8\r\n", "<p>caf\xE9</p>")));
  ASSERT_GT(server.port(), 32767);  // loopback listeners get ports from the upper range
  std::u16string type = kCallerType;
  const std::u16string body = ModINET::FetchPage(
      FromCodePage("http://127.0.0.1:" + Port(server.port()) + "/search.asp?query=a%20b&mode=1"), type, u"", 1024, 1);
  EXPECT_EQ(body, u"<p>caf\u00E9</p>");
  EXPECT_EQ(type, u"text/html; charset=utf-8");
  const std::string request = server.seen();
  EXPECT_THAT(request, StartsWith("GET /search.asp?query=a%20b&mode=1 HTTP/1.1\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nHost: 127.0.0.1:" + Port(server.port()) + "\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nUser-Agent: " + ToCodePage(quillmere::site::UserAgent) + "\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nCache-Control: no-cache\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nPragma: no-cache\r\n"));
}

TEST_F(Loopback, PostSendsTheDataWithRefererAndContentType) {
  RawServer server(Answer(Response("Content-Type: text/plain\r\n", "posted")));
  std::u16string type;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + Port(server.port()) + "/search.asp?ignored=1", type, u"query=dune", 1),
            u"posted");
  const std::string request = server.seen();
  EXPECT_THAT(request, StartsWith("POST /search.asp HTTP/1.1\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nReferer: " + ToCodePage(quillmere::site::SiteHost) + "\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nContent-Type: text/html\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nContent-Length: 10\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nCache-Control: no-cache\r\n"));
  EXPECT_THAT(request, Not(HasSubstr("Expect:")));
  EXPECT_THAT(request, testing::EndsWith("\r\n\r\nquery=dune"));
}

TEST_F(Loopback, GetWithDataPutsItIntoTheQuery) {
  RawServer server(Answer(Response("Content-Type: text/plain\r\n", "got")));
  std::u16string type;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + Port(server.port()) + "/search.asp", type, u"query=dune", 0), u"got");
  const std::string request = server.seen();
  EXPECT_THAT(request, StartsWith("GET /search.asp?query=dune HTTP/1.1\r\n"));
  EXPECT_THAT(request, HasSubstr("\r\nReferer: " + ToCodePage(quillmere::site::SiteHost) + "\r\n"));
  EXPECT_THAT(request, Not(HasSubstr("Content-Length")));
  EXPECT_THAT(request, testing::EndsWith("\r\n\r\n"));
}

struct TypeCase {
  std::string headers;
  std::u16string expected;
  friend void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.headers.size() << " header bytes"; }
};

class ResponseContentType : public Loopback, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(ResponseContentType, IsReportedOrEmptiedAndTheBodyComesAnyway) {
  RawServer server(Answer(Response(GetParam().headers, "body")));
  std::u16string type = kCallerType;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + Port(server.port()) + "/", type), u"body");
  EXPECT_EQ(type, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Headers, ResponseContentType,
                         ::testing::Values(TypeCase{"", u""}, TypeCase{"Content-Type:   text/x   \r\n", u"text/x"},
                                           TypeCase{"Content-Type: " + std::string(254, 'a') + "\r\n",
                                                    std::u16string(254, u'a')},
                                           TypeCase{"Content-Type: " + std::string(255, 'a') + "\r\n", u""},
                                           TypeCase{"content-type: a/b\r\nContent-Type: c/d\r\n", u"a/b"}));

class ErrorStatus : public Loopback, public ::testing::WithParamInterface<int> {};

TEST_P(ErrorStatus, BodyAndTypeAreReturnedLikeAnyOther) {
  const int status = GetParam();
  HttpServer server([status](httplib::Server& s) {
    s.Get("/missing", [status](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      res.set_content("<h1>error page</h1>", "text/html");
    });
  });
  std::u16string type = kCallerType;
  EXPECT_EQ(Fetch(server.Url("/missing"), type), u"<h1>error page</h1>");
  EXPECT_EQ(type, u"text/html");
}

INSTANTIATE_TEST_SUITE_P(Statuses, ErrorStatus, ::testing::Values(404, 500, 503));

TEST_F(Loopback, EveryByteValueArrivesNulsIncluded) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += bytes;
  HttpServer server([&](httplib::Server& s) {
    s.Get("/bin", [&](const httplib::Request&, httplib::Response& res) { res.set_content(bytes, "x/bin"); });
  });
  std::u16string type;
  const std::u16string body = Fetch(server.Url("/bin"), type, u"", 1, 100);
  EXPECT_EQ(body, FromCodePage(bytes));
  EXPECT_EQ(body[0], u'\0');
}

TEST_F(Loopback, ChunkedBodyIsReadWhole) {
  // Chunks of many sizes, most of them not a multiple of the read size.
  std::vector<std::string> chunks;
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    chunks.emplace_back(static_cast<size_t>(i * 7 % 1500 + 1), static_cast<char>('a' + i % 26));
    expected += chunks.back();
  }
  HttpServer server([&](httplib::Server& s) {
    s.Get("/chunked", [&](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/html", [&](size_t, httplib::DataSink& sink) {
        for (const std::string& chunk : chunks)
          if (!sink.write(chunk.data(), chunk.size())) return false;
        sink.done();
        return true;
      });
    });
  });
  std::u16string type;
  EXPECT_EQ(Fetch(server.Url("/chunked"), type, u"", 1, 333), FromCodePage(expected));
  EXPECT_EQ(type, u"text/html");
}

class Redirects : public Loopback {
 protected:
  // /hop/n redirects to /hop/n-1; /hop/0 is the page.
  HttpServer server_{[](httplib::Server& s) {
    s.Get(R"(/hop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      const int n = std::stoi(req.matches[1]);
      if (n == 0) {
        res.set_content("final page", "text/final");
      } else {
        res.status = n % 2 == 0 ? 301 : 302;
        res.set_header("Location", "/hop/" + std::to_string(n - 1));
        res.set_content("moved", "text/moved");
      }
    });
    s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "ftp://127.0.0.1/file");
    });
    s.Post("/post", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "/hop/0");
    });
  }};
};

TEST_F(Redirects, AreFollowedToTheFinalBodyAndType) {
  for (int hops : {1, 2, 20}) {
    std::u16string type = kCallerType;
    EXPECT_EQ(Fetch(server_.Url("/hop/" + std::to_string(hops)), type), u"final page") << hops;
    EXPECT_EQ(type, u"text/final") << hops;
  }
}

TEST_F(Redirects, MoreThanTwentyFail) {
  std::u16string type = kCallerType;
  EXPECT_EQ(Fetch(server_.Url("/hop/21"), type), u"");
  EXPECT_EQ(type, kCallerType);
}

TEST_F(Redirects, ToFtpFails) {
  std::u16string type = kCallerType;
  EXPECT_EQ(Fetch(server_.Url("/to-ftp"), type), u"");
  EXPECT_EQ(type, kCallerType);
}

TEST_F(Redirects, PostIsFollowedToo) {
  std::u16string type;
  EXPECT_EQ(Fetch(server_.Url("/post"), type, u"a=1", 1), u"final page");
  EXPECT_EQ(type, u"text/final");
}

TEST_F(Loopback, FtpUrlsAreNotServed) {
  RawServer server(Answer("220 ready\r\n"));
  std::u16string type = kCallerType;
  EXPECT_EQ(Fetch("ftp://127.0.0.1:" + Port(server.port()) + "/file", type, u"data"), u"");
  EXPECT_EQ(type, kCallerType);
  EXPECT_EQ(server.seen(), "");
}

TEST_F(Loopback, ConnectionDroppedMidBodyKeepsWhatArrived) {
  const std::string part(5000, 'x');
  RawServer server([&](int fd, RawServer&) {
    nettest::ReadRequest(fd);
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n" + part);
  });
  std::u16string type;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + Port(server.port()) + "/", type), FromCodePage(part));
  EXPECT_EQ(type, u"text/plain");
}

TEST_F(Loopback, StalledBodyEndsWithWhatArrived) {
  RawServer server([](int fd, RawServer&) {
    nettest::ReadRequest(fd);
    nettest::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 100\r\n\r\nfirst");
    nettest::WaitForClose(fd, 10000);
  });
  std::u16string type;
  EXPECT_EQ(Fetch("http://127.0.0.1:" + Port(server.port()) + "/", type, u"", 1, 1024,
                  ModINET::Timeouts{std::chrono::milliseconds(1000), std::chrono::milliseconds(300)}),
            u"first");
  EXPECT_EQ(type, u"text/plain");
}

TEST_F(Loopback, BodyStopsAt64MiB) {
  HttpServer server([](httplib::Server& s) {
    s.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, 'z');
        // Far enough past the limit to show that it did not hold, and no further.
        if (offset > ModINET::kMaxBodyBytes * 2) return false;
        return sink.write(block.data(), block.size());
      });
    });
  });
  std::u16string type;
  const std::u16string body = Fetch(server.Url("/endless"), type, u"", 1, 65536);
  EXPECT_EQ(body.size(), ModINET::kMaxBodyBytes);
  EXPECT_EQ(body.find_first_not_of(u'z'), std::u16string::npos);
  EXPECT_EQ(type, u"text/plain");
}

TEST_F(Loopback, RequestWithDataToHttpsSpeaksTls) {
  RawServer server([](int fd, RawServer& self) {
    char first[3] = {};
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) > 0 && ::recv(fd, first, sizeof first, MSG_WAITALL) == 3)
      self.Record(std::string(first, 3));
  });
  std::u16string type = kCallerType;
  EXPECT_EQ(Fetch("https://127.0.0.1:" + Port(server.port()) + "/login", type, u"user=a", 1), u"");
  EXPECT_EQ(type, kCallerType);
  // A TLS handshake record: content type 22, protocol major version 3.
  EXPECT_EQ(server.seen().substr(0, 2), std::string("\x16\x03"));
}

TEST_F(Loopback, HttpProxyFromTheEnvironmentIsUsed) {
  RawServer proxy(Answer(Response("Content-Type: text/proxied\r\n", "via proxy")));
  const std::string proxyUrl = "http://127.0.0.1:" + Port(proxy.port());
  EnvGuard noProxy("no_proxy", nullptr);
  EnvGuard httpProxy("http_proxy", proxyUrl.c_str());
  int lookups = 0;
  ModINET::CurlFacility facility({}, [&](const std::string&) {
    ++lookups;
    return std::string("http://127.0.0.1:1");
  });
  std::u16string type;
  EXPECT_EQ(ModINET::FetchPage(facility, u"http://site.invalid/search.asp?query=x", type, u"", 1024, 1),
            u"via proxy");
  EXPECT_EQ(type, u"text/proxied");
  EXPECT_THAT(proxy.seen(), StartsWith("GET http://site.invalid/search.asp?query=x HTTP/1.1\r\n"));
  EXPECT_EQ(lookups, 0);  // the environment wins over the desktop's setting
}

TEST_F(Loopback, DesktopProxyIsUsedWhenTheEnvironmentNamesNone) {
  RawServer proxy(Answer(Response("Content-Type: text/proxied\r\n", "via desktop proxy")));
  const std::string proxyUrl = "http://127.0.0.1:" + Port(proxy.port());
  EnvGuard noProxy("no_proxy", nullptr);
  std::string asked;
  ModINET::CurlFacility facility({}, [&](const std::string& url) {
    asked = url;
    return proxyUrl;
  });
  std::u16string type;
  EXPECT_EQ(ModINET::FetchPage(facility, u"http://site.invalid/directory.asp", type, u"", 1024, 1),
            u"via desktop proxy");
  EXPECT_EQ(asked, "http://site.invalid/directory.asp");
  EXPECT_THAT(proxy.seen(), StartsWith("GET http://site.invalid/directory.asp HTTP/1.1\r\n"));
}

}  // namespace
