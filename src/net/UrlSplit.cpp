#include "net/UrlSplit.h"

#include <algorithm>
#include <cctype>

namespace ModINET {
namespace {

bool IsSchemeChar(char c, bool first) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (std::isalpha(u)) return true;
  return !first && (std::isdigit(u) || c == '+' || c == '-' || c == '.');
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

Scheme SchemeNumber(std::string_view scheme) {
  if (EqualsNoCase(scheme, "http")) return Scheme::Http;
  if (EqualsNoCase(scheme, "https")) return Scheme::Https;
  if (EqualsNoCase(scheme, "ftp")) return Scheme::Ftp;
  if (EqualsNoCase(scheme, "gopher")) return Scheme::Gopher;
  if (EqualsNoCase(scheme, "file")) return Scheme::File;
  return Scheme::Unknown;
}

// 1..65535 written in decimal digits only.
bool ParsePort(std::string_view text, int32_t& port) {
  if (text.empty() || text.size() > 5) return false;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

int32_t DefaultPort(Scheme scheme) {
  switch (scheme) {
    case Scheme::Http: return 80;
    case Scheme::Https: return 443;
    case Scheme::Ftp: return 21;
    case Scheme::Gopher: return 70;
    default: return 0;
  }
}

bool SplitUrl(std::string_view url, UrlParts& parts) {
  parts = UrlParts{};

  const size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view scheme = url.substr(0, colon);
  for (size_t i = 0; i < scheme.size(); ++i)
    if (!IsSchemeChar(scheme[i], i == 0)) return false;
  if (url.substr(colon + 1, 2) != "//") return false;
  if (scheme.size() > kMaxSchemeLength) return false;
  parts.scheme.assign(scheme);
  parts.schemeNumber = SchemeNumber(scheme);

  const std::string_view rest = url.substr(colon + 3);
  const size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
  std::string_view authority = rest.substr(0, authorityEnd);
  const std::string_view tail = rest.substr(authorityEnd);

  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view userInfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const size_t split = userInfo.find(':');
    const std::string_view user = userInfo.substr(0, split);
    const std::string_view password =
        split == std::string_view::npos ? std::string_view{} : userInfo.substr(split + 1);
    if (user.size() > kMaxUserLength || password.size() > kMaxPasswordLength) return false;
    parts.user.assign(user);
    parts.password.assign(password);
  }

  std::string_view host = authority;
  std::string_view portText;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      portText = after.substr(1);
      hasPort = true;
    }
  } else if (const size_t portColon = authority.find(':'); portColon != std::string_view::npos) {
    host = authority.substr(0, portColon);
    portText = authority.substr(portColon + 1);
    hasPort = true;
  }
  if (host.size() > kMaxHostLength) return false;
  // Only a file URL may leave out the host; an http URL without one names nothing to connect to.
  if (host.empty() && parts.schemeNumber != Scheme::File) return false;
  parts.host.assign(host);

  // "host:" with nothing after the colon means the default port, as in any browser.
  if (hasPort && !portText.empty()) {
    if (!ParsePort(portText, parts.port)) return false;
  } else {
    parts.port = DefaultPort(parts.schemeNumber);
  }

  const size_t extraStart = std::min(tail.find_first_of("?#"), tail.size());
  const std::string_view path = tail.substr(0, extraStart);
  const std::string_view extra = tail.substr(extraStart);
  if (path.size() > kMaxPathLength || extra.size() > kMaxExtraLength) return false;
  parts.path.assign(path);
  parts.extra.assign(extra);
  return true;
}

}  // namespace ModINET
