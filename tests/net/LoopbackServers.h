// Servers on loopback inside the test process: a raw one for exact control of
// the bytes on the wire, and cpp-httplib for ordinary HTTP.
#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace nettest {

inline void SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Reads one request: the header block, then as many body bytes as its
// Content-Length announces. Gives up after `timeoutMs` without data.
inline std::string ReadRequest(int fd, int timeoutMs = 5000) {
  std::string request;
  size_t wanted = std::string::npos;
  char buffer[4096];
  while (wanted == std::string::npos || request.size() < wanted) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    request.append(buffer, static_cast<size_t>(n));
    const size_t end = request.find("\r\n\r\n");
    if (wanted == std::string::npos && end != std::string::npos) {
      size_t length = 0;
      const size_t field = request.find("\r\nContent-Length: ");
      if (field != std::string::npos && field < end) length = std::stoul(request.substr(field + 18));
      wanted = end + 4 + length;
    }
  }
  return request;
}

// Waits until the peer closes or `timeoutMs` pass.
inline void WaitForClose(int fd, int timeoutMs) {
  char buffer[256];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return;
    if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
  }
}

// Accepts connections one after the other and hands each to `handler`, which
// may record what it saw in `seen`.
class RawServer {
 public:
  using Handler = std::function<void(int fd, RawServer& server)>;

  explicit RawServer(Handler handler) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 8) != 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on loopback");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  ~RawServer() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }

  int port() const { return port_; }
  void Record(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_ += text;
  }
  std::string seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      handler_(fd, *this);
      ::close(fd);
    }
  }

  Handler handler_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string seen_;
  std::thread thread_;
};

class HttpServer {
 public:
  explicit HttpServer(const std::function<void(httplib::Server&)>& setup) {
    setup(server_);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on loopback");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// Sets or clears an environment variable for the life of the guard.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;
  ~EnvGuard() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace nettest
