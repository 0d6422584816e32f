// The HTTP facility on libcurl. A root handle carries the user agent, a
// connection only remembers where to go, and a request is one libcurl
// transfer that is driven forward by the calls that need its data, without a
// thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "net/HttpFacility.h"

namespace ModINET {

struct Timeouts {
  // Giving up on a server that does not accept the connection.
  std::chrono::milliseconds connect{15000};
  // Giving up on a transfer that has received nothing for this long.
  std::chrono::milliseconds stall{20000};
  // Giving up on a transfer that is still running this long after it began,
  // however steadily the server trickles.
  std::chrono::milliseconds total{60000};
};

// A body is cut off after this many bytes, so that a server cannot fill the
// memory with an endless answer.
inline constexpr uint64_t kMaxBodyBytes = uint64_t{64} * 1024 * 1024;

// Whether a redirect may lead to a host on this machine or a private network
// (site::IsLocalHost). A public site must not be able to make the program read
// local services for it.
enum class LocalRedirects { Allowed, Refused };

// The proxy to use for `url` as "scheme://host:port", or the empty text for a
// direct connection.
using ProxyLookup = std::function<std::string(const std::string& url)>;

// The desktop's proxy for `url`, as GIO's default proxy resolver reports it.
std::string SystemProxyFor(const std::string& url);

// What a transfer that ended with libcurl's result `code` failed of.
// `redirected`: it followed a redirect; `bodyCut`: its body reached the size
// limit.
FetchFailure ClassifyCurlResult(int code, bool redirected, bool bodyCut);

class CurlFacility : public HttpFacility {
 public:
  // The proxy environment variables (http_proxy, https_proxy, all_proxy,
  // no_proxy) win over `proxyLookup`: when one names a proxy for a request's
  // scheme, libcurl reads them and the lookup is not asked. For http that is
  // the lower-case http_proxy only, as libcurl reads no other.
  //
  // Once `*cancelled` turns true, which another thread may do at any time,
  // the running transfer ends within a tenth of a second with its connection
  // closed, and every later call fails at once.
  //
  // A redirect that `localRedirects` refuses ends its transfer before the
  // request is sent, as CURLE_ABORTED_BY_CALLBACK.
  explicit CurlFacility(Timeouts timeouts = {}, ProxyLookup proxyLookup = SystemProxyFor,
                        const std::atomic<bool>* cancelled = nullptr,
                        LocalRedirects localRedirects = LocalRedirects::Allowed);
  ~CurlFacility() override;
  CurlFacility(const CurlFacility&) = delete;
  CurlFacility& operator=(const CurlFacility&) = delete;

  bool Split(std::string_view url, UrlParts& parts) override;
  Handle OpenRoot(std::string_view userAgent) override;
  Handle Connect(Handle root, std::string_view host, int32_t port, std::string_view user,
                 std::string_view password, Service service) override;
  Handle OpenRequest(Handle connection, std::string_view verb, std::string_view path,
                     std::string_view version, std::string_view referrer, uint32_t flags) override;
  bool SendRequest(Handle request, std::string_view headers, std::string_view body) override;
  Handle OpenUrl(Handle root, std::string_view url, uint32_t flags) override;
  bool QueryContentType(Handle request, char* buffer, uint32_t size) override;
  bool Read(Handle request, char* buffer, uint32_t size, uint32_t& count) override;
  void Close(Handle handle) override;
  int64_t BodyLengthHint(Handle request) override;
  FetchReport LastReport() const override;

 private:
  struct Object;
  Object* Find(Handle handle);
  Handle Add(std::unique_ptr<Object> object);

  Timeouts timeouts_;
  ProxyLookup proxyLookup_;
  const std::atomic<bool>* cancelled_;
  LocalRedirects localRedirects_;
  Handle nextHandle_ = 1;
  std::unordered_map<Handle, std::unique_ptr<Object>> objects_;
  FetchReport lastReport_;
};

}  // namespace ModINET
