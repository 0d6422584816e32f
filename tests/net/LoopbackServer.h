// A scripted HTTP server on a loopback port, inside the test process: a thread
// accepts one connection at a time and plays the test's script on it, byte for
// byte, so that a test can send what no well-behaved server would. Every call
// of a script gives up as soon as the server is being destroyed. The proxy
// environment is cleared, so that a fetch reaches the server directly unless
// the test names a proxy after that.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
 public:
  // Without `play`, a host that never answers a connection attempt: the
  // server never accepts, and its backlog is filled by connections of its own.
  explicit LoopbackServer(std::function<void(LoopbackServer&)> play) : play_(std::move(play)) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      unsetenv(name);
    setenv("no_proxy", "*", 1);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (listen_ < 0 || pipe2(stop_, O_CLOEXEC) != 0 || bind(listen_, reinterpret_cast<sockaddr*>(&address), length) ||
        listen(listen_, play_ ? 16 : 0) || getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length))
      throw std::runtime_error("cannot listen on loopback");
    port = ntohs(address.sin_port);
    // Once the backlog is full, a further attempt stays unanswered.
    for (pollfd p{-1, POLLOUT, 0}; !play_ && fillers_.size() < 8 && (p.fd < 0 || poll(&p, 1, 200) > 0);) {
      fillers_.push_back(p.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      connect(p.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (play_) thread_ = std::thread([this] {
      while (Wait(listen_, POLLIN)) {
        if ((fd_ = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC)) < 0) continue;
        ++connections;
        play_(*this);
        ++finished;
        close(fd_);
      }
    });
  }
  ~LoopbackServer() {
    [[maybe_unused]] const ssize_t written = write(stop_[1], "s", 1);
    if (thread_.joinable()) thread_.join();
    for (const int fd : fillers_) close(fd);
    for (const int fd : {listen_, stop_[0], stop_[1]}) close(fd);
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

  // The request head, and as much body after it as its Content-Length names;
  // with `once`, what the first read brings. Empty when the client has gone.
  std::string ReadRequest(bool once = false) {
    std::string request;
    char buffer[65536];
    for (ssize_t n; Wait(fd_, POLLIN) && (n = recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
      request.append(buffer, static_cast<size_t>(n));
      const size_t head = request.find("\r\n\r\n"), field = request.find("Content-Length: ");
      if (once || (head != std::string::npos &&
          request.size() >= head + 4 + (field < head ? std::stoul(request.substr(field + 16)) : 0)))
        break;
    }
    return request;
  }
  // False once the client has gone.
  bool Send(std::string_view data) {
    while (!data.empty() && Wait(fd_, POLLOUT)) {
      const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<size_t>(n));
    }
    return data.empty();
  }
  // False when the server is being destroyed before `pause` is over.
  bool Pause(std::chrono::milliseconds pause) {
    pollfd p{stop_[0], POLLIN, 0};
    return poll(&p, 1, static_cast<int>(pause.count())) == 0;
  }
  // Makes the close that ends this connection a reset.
  void Reset() { setsockopt(fd_, SOL_SOCKET, SO_LINGER, &kAbort, sizeof kAbort); }

  int port = 0;
  std::atomic<int> connections{0}, finished{0};  // connections accepted, and those whose script is over

 private:
  static constexpr linger kAbort{1, 0};
  bool Wait(int fd, short events) {
    pollfd p[2] = {{fd, events, 0}, {stop_[0], POLLIN, 0}};
    return poll(p, 2, -1) > 0 && p[1].revents == 0;
  }

  std::function<void(LoopbackServer&)> play_;
  int listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), fd_ = -1, stop_[2] = {-1, -1};
  std::vector<int> fillers_;
  std::thread thread_;
};
