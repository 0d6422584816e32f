// The HTTP facility that the fetcher drives: one operation per step of a fetch.
// Handles are opaque non-zero integers; 0 means that the call failed. The real
// facility is CurlFacility; tests put a recording fake in its place.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "net/FetchReport.h"
#include "net/UrlSplit.h"

namespace ModINET {

using Handle = std::uintptr_t;

// Which kind of server a connection talks to, chosen from the URL's scheme.
enum class Service : int32_t {
  Ftp = 1,
  Gopher = 2,
  Http = 3,
};

// Request flags. Reload asks for an answer from the origin server, never from
// a cache; Secure asks for TLS.
inline constexpr uint32_t kFlagReload = 0x80000000u;
inline constexpr uint32_t kFlagSecure = 0x00800000u;

class HttpFacility {
 public:
  virtual ~HttpFacility() = default;

  virtual bool Split(std::string_view url, UrlParts& parts) = 0;
  virtual Handle OpenRoot(std::string_view userAgent) = 0;
  virtual Handle Connect(Handle root, std::string_view host, int32_t port, std::string_view user,
                         std::string_view password, Service service) = 0;
  virtual Handle OpenRequest(Handle connection, std::string_view verb, std::string_view path,
                             std::string_view version, std::string_view referrer, uint32_t flags) = 0;
  // `headers` are CRLF-separated lines added to the request; `body` is sent with it.
  virtual bool SendRequest(Handle request, std::string_view headers, std::string_view body) = 0;
  virtual Handle OpenUrl(Handle root, std::string_view url, uint32_t flags) = 0;
  // Writes the Content-Type value and a terminating NUL into `buffer` of
  // `size` bytes. Fails when there is none or when it does not fit with its NUL.
  virtual bool QueryContentType(Handle request, char* buffer, uint32_t size) = 0;
  // Delivers up to `size` bytes of the body into `buffer` and their count into
  // `count`; a count of 0 on success means the body is exhausted.
  virtual bool Read(Handle request, char* buffer, uint32_t size, uint32_t& count) = 0;
  virtual void Close(Handle handle) = 0;

  // The length that the response announces for its body, or -1 when it names
  // none. Only a hint for reserving memory: the reads decide what the body is.
  virtual int64_t BodyLengthHint(Handle /*request*/) { return -1; }

  // What became of the last request made, as far as it has gone.
  virtual FetchReport LastReport() const { return {}; }
};

// Owns one handle of a facility and closes it once, when it goes out of scope.
class HandleOwner {
 public:
  HandleOwner(HttpFacility& facility, Handle handle) : facility_(&facility), handle_(handle) {}
  HandleOwner(HandleOwner&& other) noexcept
      : facility_(other.facility_), handle_(std::exchange(other.handle_, 0)) {}
  HandleOwner& operator=(HandleOwner&& other) noexcept {
    if (this != &other) {
      Reset();
      facility_ = other.facility_;
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  HandleOwner(const HandleOwner&) = delete;
  HandleOwner& operator=(const HandleOwner&) = delete;
  ~HandleOwner() { Reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  void Reset() {
    if (handle_ != 0) facility_->Close(std::exchange(handle_, 0));
  }

 private:
  HttpFacility* facility_;
  Handle handle_;
};

}  // namespace ModINET
