// FetchPage against servers that misbehave, each played by a raw socket
// server on a thread of the test. Every case must end within the time-outs
// given to the facility, with the text and Content-Type that a failure at
// that point leaves, and with no descriptor left open.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "net/CurlFacility.h"
#include "net/ModINET.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Short enough to keep the run quick, long enough above the 100 ms pauses of
// the slow server that a loaded machine does not turn them into a stall.
constexpr ModINET::Timeouts kTimeouts{std::chrono::milliseconds(500), std::chrono::milliseconds(1500)};
// What the fetch may take beyond its time-out on a busy machine, under the
// sanitizers included, before it counts as not having ended in time.
constexpr Seconds kSlack{4.0};

constexpr std::u16string_view kCallerContentType = u"caller/unchanged";

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// The connection a case plays against; its calls give up as soon as the test
// stops the server.
class Peer {
 public:
  Peer(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}

  // Waits for `pause` or until the server is stopped; false when stopped.
  bool Pause(std::chrono::milliseconds pause) const {
    pollfd p{stopFd_, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(pause.count())) == 0;
  }

  // Reads the request head, up to its empty line.
  bool ReadRequest() const {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN) != 0) return false;
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      head.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

  // Sends all of `data`; false once the client has gone or the server stops.
  bool Send(std::string_view data) const {
    while (!data.empty()) {
      pollfd p[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
      if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN) != 0) return false;
      const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  // Ends the connection with a reset instead of an orderly close.
  void Reset() const {
    const linger abort{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }

 private:
  int fd_;
  int stopFd_;
};

using Play = std::function<void(const Peer&)>;

// A server on an ephemeral loopback port that plays `play` on every
// connection it accepts, one at a time, until it is stopped.
class RawServer {
 public:
  explicit RawServer(Play play) : play_(std::move(play)) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listen_ < 0 || pipe2(stop_, O_CLOEXEC) != 0 ||
        bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listen_, 16) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot start the loopback server: " << std::strerror(errno);
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  ~RawServer() { Stop(); }

  std::u16string Url(std::string_view path) const {
    const std::string url = "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    return std::u16string(url.begin(), url.end());
  }
  int connections() const { return connections_; }

  void Stop() {
    if (stop_[1] >= 0) {
      const char byte = 's';
      [[maybe_unused]] const ssize_t written = write(stop_[1], &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int* fd : {&listen_, &stop_[0], &stop_[1]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

 private:
  void Serve() {
    for (;;) {
      pollfd p[2] = {{listen_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(p, 2, -1) < 0 || (p[1].revents & POLLIN) != 0) return;
      const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections_;
      play_(Peer(fd, stop_[0]));
      close(fd);
    }
  }

  Play play_;
  int listen_ = -1;
  int stop_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<int> connections_{0};
  std::thread thread_;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

struct FaultCase {
  const char* name;
  Play play;
  // What the fetch must return: the text, and the Content-Type, where the
  // caller's own value stands for "left unchanged".
  std::function<void(const std::u16string&)> checkText;
  std::u16string_view contentType;
  // The time-outs that may run out in this case, one after the other, plus
  // how long the server itself takes to play it.
  Seconds expectedLength;
  // Connections the fetch must have made: a redirect is followed for a while
  // before the loop is given up.
  int minConnections = 1;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

void ExpectEmpty(const std::u16string& text) { EXPECT_TRUE(text.empty()) << text.size() << " characters"; }

auto ExpectText(std::string expected) {
  return [expected = std::u16string(expected.begin(), expected.end())](const std::u16string& text) {
    EXPECT_EQ(text.size(), expected.size());
    EXPECT_TRUE(text == expected) << "the body differs from what the server sent";
  };
}

const std::string kBeforeReset = Repeat('r', 20000);
const std::string kSlowBody = Repeat('s', 50);

const FaultCase kCases[] = {
    {"AcceptsAndNeverAnswers",
     [](const Peer& peer) { peer.Pause(60s); },
     ExpectEmpty, kCallerContentType, kTimeouts.stall},

    {"SendsHeadersThenStalls",
     [](const Peer& peer) {
       if (peer.ReadRequest() && peer.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1000\r\n\r\n"))
         peer.Pause(60s);
     },
     ExpectEmpty, u"text/html", kTimeouts.stall},

    // The body is cut off at the fetcher's limit; what came before it is kept.
    // The server gives up at four times the limit, so that a fetcher without
    // one fails the size check instead of running into the test's time limit.
    {"SendsAnEndlessBody",
     [](const Peer& peer) {
       if (!peer.ReadRequest() || !peer.Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")) return;
       const std::string block = Repeat('e', 64 * 1024);
       for (uint64_t sent = 0; sent < 4 * ModINET::kMaxBodyBytes && peer.Send(block); sent += block.size()) {
       }
     },
     [](const std::u16string& text) {
       EXPECT_EQ(text.size(), ModINET::kMaxBodyBytes);
       EXPECT_EQ(text.find_first_not_of(u'e'), std::u16string::npos);
     },
     u"text/plain", Seconds(30)},

    // Only the final response's body counts, and a loop has none.
    {"AnswersWithARedirectLoop",
     [](const Peer& peer) {
       if (peer.ReadRequest())
         peer.Send("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Type: text/html\r\nContent-Length: 6\r\n"
                   "Connection: close\r\n\r\nmoved!");
     },
     ExpectEmpty, kCallerContentType, Seconds(0), 3},

    {"SendsAOneMebibyteHeaderLine",
     [](const Peer& peer) {
       if (peer.ReadRequest())
         peer.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nX-Filler: " + Repeat('h', 1024 * 1024) +
                   "\r\nContent-Length: 5\r\n\r\nhello");
     },
     ExpectEmpty, kCallerContentType, Seconds(0)},

    // The reset comes once the client has had time to take in what was sent.
    {"ResetsTheConnectionMidBody",
     [](const Peer& peer) {
       if (peer.ReadRequest() &&
           peer.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=windows-1252\r\nContent-Length: 100000\r\n\r\n") &&
           peer.Send(kBeforeReset) && peer.Pause(300ms))
         peer.Reset();
     },
     ExpectText(kBeforeReset), u"text/html; charset=windows-1252", Seconds(0.3)},

    // A pause of 100 ms is no stall: the whole body arrives.
    {"AnswersOneByteEvery100Milliseconds",
     [](const Peer& peer) {
       if (!peer.ReadRequest()) return;
       const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                    std::to_string(kSlowBody.size()) + "\r\n\r\n" + kSlowBody;
       // 5 s for the body alone, the head going out the same way before it.
       const size_t headLength = response.size() - kSlowBody.size();
       if (!peer.Send(response.substr(0, headLength))) return;
       for (char c : kSlowBody)
         if (!peer.Pause(100ms) || !peer.Send(std::string_view(&c, 1))) return;
     },
     ExpectText(kSlowBody), u"text/plain", Seconds(5.0)},
};

class NetFaults : public ::testing::TestWithParam<FaultCase> {
 protected:
  static void SetUpTestSuite() {
    // The loopback server must be reached directly, whatever proxy the
    // environment of the test run names.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  }
};

TEST_P(NetFaults, EndsWithinItsTimeOut) {
  const FaultCase& c = GetParam();
  const int descriptorsBefore = OpenDescriptors();

  std::u16string text;
  std::u16string contentType(kCallerContentType);
  Seconds elapsed{};
  {
    RawServer server(c.play);
    ModINET::CurlFacility facility(kTimeouts, [](const std::string&) { return std::string(); });
    const auto start = Clock::now();
    text = ModINET::FetchPage(facility, server.Url("/search.asp?query=x"), contentType, u"", 1024, 1);
    elapsed = Clock::now() - start;
    EXPECT_GE(server.connections(), c.minConnections) << "the fetch did not reach the server as often as expected";
    server.Stop();
  }

  c.checkText(text);
  EXPECT_EQ(contentType, c.contentType);
  EXPECT_LT(elapsed.count(), (c.expectedLength + kSlack).count()) << "the fetch did not end within its time-out";
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore) << "descriptors left open";
}

INSTANTIATE_TEST_SUITE_P(Loopback, NetFaults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
