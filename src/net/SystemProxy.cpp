// The desktop's proxy settings through GIO. This is the only place in the
// core that talks to GLib.
#include <gio/gio.h>

#include <memory>

#include "net/CurlFacility.h"

namespace ModINET {
namespace {

struct StrvDeleter {
  void operator()(gchar** list) const { g_strfreev(list); }
};
struct ErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};

}  // namespace

std::string SystemProxyFor(const std::string& url) {
  // The default resolver belongs to GIO and lives as long as the process.
  GProxyResolver* resolver = g_proxy_resolver_get_default();
  if (resolver == nullptr) return {};
  GError* rawError = nullptr;
  const std::unique_ptr<gchar*, StrvDeleter> proxies(
      g_proxy_resolver_lookup(resolver, url.c_str(), nullptr, &rawError));
  const std::unique_ptr<GError, ErrorDeleter> error(rawError);
  if (!proxies || proxies.get()[0] == nullptr) return {};
  const std::string first = proxies.get()[0];
  if (first == "direct://") return {};
  return first;
}

}  // namespace ModINET
