// The fetcher on the libcurl facility against cpp-httplib on loopback: what
// goes over the wire and what comes back.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/CurlFacility.h"
#include "net/ModINET.h"
#include "net/Site.h"
#include "text/CodePage.h"

namespace {

using ::testing::HasSubstr;
using quillmere::text::FromCodePage;
using quillmere::text::ToCodePage;
using namespace std::chrono_literals;

const std::u16string kCaller = u"caller's value";

// Serves at most one connection on a bare listener, for bytes that
// cpp-httplib would not send: answers `response` at once, keeps what the first
// read brings and closes. Keeps nothing when `fetch` does not connect.
std::string ServeOnce(const std::string& response, const std::function<void(const std::string& host)>& fetch) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot listen on loopback");
  std::string received(4096, '\0');
  std::thread peer([&] {
    const int fd = ::accept(listener, nullptr, nullptr);  // fails once the listener is shut down
    if (fd < 0) return received.clear();
    ::send(fd, response.data(), response.size(), MSG_NOSIGNAL);
    received.resize(static_cast<size_t>(std::max<ssize_t>(::recv(fd, received.data(), received.size(), 0), 0)));
    ::close(fd);
  });
  fetch("127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  ::shutdown(listener, SHUT_RDWR);
  peer.join();
  ::close(listener);
  return received;
}

// One server for every case of a test, with a route for each kind of answer.
class Loopback : public ::testing::Test {
 protected:
  Loopback() {
    // Only the proxy test may send anything to a proxy, the desktop's included.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(name);
    ::setenv("no_proxy", "*", 1);
    for (int i = 0; i < 256; ++i) bytes_ += static_cast<char>(i);
    bytes_ += bytes_;
    for (int i = 0; i < 200; ++i) chunks_.emplace_back(i * 7 % 1500 + 1, static_cast<char>('a' + i % 26));
    // A page with the status, Content-Type fields and Location that its query names.
    const auto page = [](const httplib::Request& req, httplib::Response& res) {
      res.status = req.has_param("status") ? std::stoi(req.get_param_value("status")) : 200;
      for (auto [it, end] = req.params.equal_range("type"); it != end; ++it) res.set_header("content-type", it->second);
      if (req.has_param("to")) res.set_header("Location", req.get_param_value("to"));
      res.body = "page";
    };
    server_.Get("/page", page);
    server_.Post("/page", page);
    server_.Get("/bytes", [this](const httplib::Request&, httplib::Response& res) { res.set_content(bytes_, "x/b"); });
    server_.Get("/chunked", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/html", [this](size_t, httplib::DataSink& sink) {
        for (const std::string& chunk : chunks_) sink.write(chunk.data(), chunk.size());
        sink.done();
        return true;
      });
    });
    // /hop/n redirects to /hop/n-1; /hop/0 is the page.
    const auto hop = [](const httplib::Request& req, httplib::Response& res) {
      const int n = std::stoi(req.matches[1]);
      if (n == 0) return res.set_content("final page", "text/final");
      res.status = n % 2 == 0 ? 301 : 302;
      res.set_header("Location", "/hop/" + std::to_string(n - 1));
      res.set_content("moved", "text/moved");
    };
    server_.Get(R"(/hop/(\d+))", hop);
    server_.Post(R"(/hop/(\d+))", hop);
    // `sent` bytes of the 100000 announced, `pause` ms of silence, as many again, and the connection dropped.
    server_.Get("/cut", [](const httplib::Request& req, httplib::Response& res) {
      const std::string sent(std::stoul(req.get_param_value("sent")), 'x');
      const std::chrono::milliseconds pause(std::stoi(req.get_param_value("pause")));
      res.set_content_provider(100000, "text/plain", [sent, pause](size_t, size_t, httplib::DataSink& sink) {
        sink.write(sent.data(), sent.size());
        std::this_thread::sleep_for(pause);
        sink.write(sent.data(), sent.size());
        return false;
      });
    });
    server_.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, 'z');
        // Far enough past the limit to show that it did not hold, and no further.
        return offset <= ModINET::kMaxBodyBytes * 2 && sink.write(block.data(), block.size());
      });
    });
    // Anything else is echoed, the absolute-form requests that a proxy gets among them.
    const auto echo = [this](const httplib::Request& req, httplib::Response& res) {
      seen_ = req.method + " " + req.target + " " + req.version + "\r\n";
      for (const auto& [name, value] : req.headers) seen_ += name + ": " + value + "\r\n";
      seen_ += "\r\n" + req.body;
      res.set_content("<p>caf\xE9</p>", "text/html; charset=utf-8");
    };
    server_.Get(".*", echo);
    server_.Post(".*", echo);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on loopback");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~Loopback() override { server_.stop(); thread_.join(); }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::u16string Fetch(const std::string& url, std::u16string& type, const std::u16string& post = u"",
                       int32_t mode = 1, int32_t bufferSize = 1024, ModINET::Timeouts timeouts = {}) {
    ModINET::CurlFacility facility(timeouts, [](const std::string&) { return std::string(); });
    return ModINET::FetchPage(facility, FromCodePage(url), type, post, bufferSize, mode);
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::string seen_, bytes_;
  std::vector<std::string> chunks_;
};

struct RequestCase {
  std::string path;
  std::u16string post;
  int32_t mode;
  std::vector<std::string> present, absent;
};

TEST_F(Loopback, RequestLineAndHeadersAreSentAsTheFetchAsks) {
  ASSERT_GT(port_, 32767);  // loopback listeners get ports from the upper range
  const std::string ref = "Referer: " + ToCodePage(quillmere::site::SiteHost) + "\r\n";
  const RequestCase cases[] = {
      // Blanks and bytes above 0x7F go escaped, and "%" as it stands.
      {"/echo?query=a b%20\xE9&mode=1", u"", 1,
       {"GET /echo?query=a%20b%20%E9&mode=1 HTTP/1.1\r\n", "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)\r\n", "Cache-Control: no-cache\r\n",
        "Pragma: no-cache\r\n"},
       {"Referer", "Content-Length"}},
      {"/echo?ignored=1", u"query=dune", 1,
       {"POST /echo HTTP/1.1\r\n", ref, "Content-Type: text/html\r\n", "Content-Length: 10\r\n",
        "Cache-Control: no-cache\r\n", "\r\n\r\nquery=dune"},
       {"Expect"}},
      {"/echo", u"query=dune", 0, {"GET /echo?query=dune HTTP/1.1\r\n", ref, "Pragma: no-cache\r\n"},
       {"Content-Length", "Content-Type", "\r\n\r\nquery"}},
  };
  for (const RequestCase& c : cases) {
    std::u16string type;
    seen_.clear();
    // Through the entry point that the program calls, with the desktop's proxy lookup.
    EXPECT_EQ(ModINET::FetchPage(FromCodePage(Url(c.path)), type, c.post, 1024, c.mode), u"<p>caf\u00E9</p>");
    EXPECT_EQ(type, u"text/html; charset=utf-8");
    for (const std::string& text : c.present) EXPECT_THAT(seen_, HasSubstr(text));
    for (const std::string& text : c.absent) EXPECT_THAT(seen_, ::testing::Not(HasSubstr(text)));
  }
}

struct ResponseCase {
  std::string path;
  std::u16string text, type, post = u"";
  int32_t bufferSize = 1024;
  ModINET::Timeouts timeouts = {};
};

TEST_F(Loopback, ResponsesComeBackWithTheirBodyAndContentType) {
  std::string chunked;
  for (const std::string& chunk : chunks_) chunked += chunk;
  const ResponseCase cases[] = {
      {"/page?type=%20%20text/x%20%20", u"page", u"text/x"},
      {"/page?type=" + std::string(254, 'a'), u"page", std::u16string(254, u'a')},
      {"/page?type=" + std::string(255, 'a'), u"page", u""},
      {"/page?type=a/b&type=c/d", u"page", u"a/b"},
      {"/page?status=404&type=text/html", u"page", u"text/html"},
      {"/page?status=500&type=text/html", u"page", u"text/html"},
      {"/bytes", FromCodePage(bytes_), u"x/b", u"", 100},
      {"/chunked", FromCodePage(chunked), u"text/html", u"", 333},
      {"/hop/20", u"final page", u"text/final"},
      {"/hop/21", u"", kCaller},
      {"/hop/1", u"final page", u"text/final", u"a=1"},
      {"/cut?sent=5000&pause=0", std::u16string(10000, u'x'), u"text/plain"},
      // A time-out: nothing comes for longer than the stall time-out.
      {"/cut?sent=5&pause=1000", u"xxxxx", u"text/plain", u"", 1024, {1000ms, 300ms}},
  };
  for (const ResponseCase& c : cases) {
    std::u16string type = kCaller;
    EXPECT_EQ(Fetch(Url(c.path), type, c.post, 1, c.bufferSize, c.timeouts), c.text) << c.path;
    EXPECT_EQ(type, c.type) << c.path;
  }
}

TEST_F(Loopback, BodyStopsAt64MiB) {
  std::u16string type;
  const std::u16string body = Fetch(Url("/endless"), type, u"", 1, 65536);
  EXPECT_EQ(body.size(), ModINET::kMaxBodyBytes);
  EXPECT_EQ(body.find_first_not_of(u'z'), std::u16string::npos);
  EXPECT_EQ(type, u"text/plain");
}

struct BareCase {
  std::string response, url;  // "%" in the URL stands for the bare server's host and port
  std::u16string post, text, type;
  std::string start;  // the first two bytes that the bare server gets, if any
};

TEST_F(Loopback, BareServerSeesTlsNoFtpRedirectAndAResponseWithoutContentType) {
  const BareCase cases[] = {
      // No Content-Type field at all, which cpp-httplib would always add.
      {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbody", "http://%/", u"", u"body", u"", "GE"},
      // A TLS handshake record: content type 22, protocol major version 3.
      {"", "https://%/login", u"user=a", u"", kCaller, "\x16\x03"},
      // A redirect to ftp is not followed: the bare server, greeting as FTP does, sees nobody.
      {"220 ready\r\n", Url("/page?status=302&to=ftp://%/file"), u"", u"", kCaller, ""},
  };
  for (const BareCase& c : cases) {
    std::u16string type = kCaller, text = u"not fetched";
    const std::string received = ServeOnce(c.response, [&](const std::string& host) {
      text = Fetch(std::string(c.url).replace(c.url.find('%'), 1, host), type, c.post);
    });
    EXPECT_EQ(text, c.text) << c.url;
    EXPECT_EQ(type, c.type) << c.url;
    EXPECT_EQ(received.substr(0, 2), c.start) << c.url;
  }
}

TEST_F(Loopback, ProxyComesFromHttpProxyBeforeTheDesktopSetting) {
  ::unsetenv("no_proxy");
  for (const bool fromEnvironment : {true, false}) {
    if (fromEnvironment) ::setenv("http_proxy", Url("").c_str(), 1);
    else ::unsetenv("http_proxy");
    std::string asked;
    ModINET::CurlFacility facility({}, [&](const std::string& url) {
      asked = url;
      return fromEnvironment ? "http://127.0.0.1:1" : Url("");
    });
    std::u16string type;
    seen_.clear();
    EXPECT_EQ(ModINET::FetchPage(facility, u"http://site.invalid/a.asp?q=x", type, u"", 1024, 1), u"<p>caf\u00E9</p>");
    EXPECT_THAT(seen_, ::testing::StartsWith("GET http://site.invalid/a.asp?q=x HTTP/1.1\r\n"));
    EXPECT_EQ(asked, fromEnvironment ? "" : "http://site.invalid/a.asp?q=x");
  }
}

}  // namespace
