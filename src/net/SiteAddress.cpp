#include "net/SiteAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "text/CodePage.h"

namespace quillmere::site {

namespace {

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool IsIpv4(std::string_view s) {
  int parts = 0;
  while (true) {
    const size_t dot = s.find('.');
    const std::string_view part = s.substr(0, dot);
    // No leading zeros: "010" would be octal to some resolvers.
    if (!IsDigits(part) || part.size() > 3 || (part.size() > 1 && part[0] == '0') || std::stoi(std::string(part)) > 255)
      return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    s.remove_prefix(dot + 1);
  }
  return parts == 4;
}

bool IsDnsName(std::string_view s) {
  if (s.empty() || s.size() > 253) return false;
  std::string_view last;
  while (true) {
    const size_t dot = s.find('.');
    const std::string_view label = s.substr(0, dot);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    if (!std::all_of(label.begin(), label.end(), [](unsigned char c) { return std::isalnum(c) || c == '-'; }))
      return false;
    last = label;
    if (dot == std::string_view::npos) break;
    s.remove_prefix(dot + 1);
  }
  // A name that ends in a number is an IPv4 address, or a mistake.
  return !IsDigits(last);
}

// The ports of other services, which the web engine loads nothing from (the
// Fetch standard's "bad ports"). A site on one of them could never be
// searched: the start page's form would not even submit.
constexpr int kEngineRefusedPorts[] = {
    1,    7,    9,    11,   13,   15,   17,   19,   20,   21,   22,   23,   25,   37,   42,   43,   53,
    69,   77,   79,   87,   95,   101,  102,  103,  104,  109,  110,  111,  113,  115,  117,  119,  123,
    135,  137,  139,  143,  161,  179,  389,  427,  465,  512,  513,  514,  515,  526,  530,  531,  532,
    540,  548,  554,  556,  563,  587,  601,  636,  989,  990,  993,  995,  1719, 1720, 1723, 2049, 3659,
    4045, 4190, 5060, 5061, 6000, 6566, 6665, 6666, 6667, 6668, 6669, 6679, 6697, 10080};

ParsedSiteAddress Refuse(std::string sentence) { return {std::nullopt, std::move(sentence)}; }

}  // namespace

ParsedSiteAddress ParseSiteAddress(std::string_view text) {
  if (text.empty()) return Refuse("The address is empty.");
  if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }))
    return Refuse("The address must not contain spaces.");
  if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c >= 0x7f; }))
    return Refuse("The address may only contain the letters, digits and signs of a host name.");

  std::string scheme = "http";
  bool schemeGiven = false;
  if (const size_t colonSlashes = text.find("://"); colonSlashes != std::string_view::npos) {
    std::string given(text.substr(0, colonSlashes));
    std::transform(given.begin(), given.end(), given.begin(), [](unsigned char c) { return std::tolower(c); });
    if (given != "http" && given != "https") return Refuse("The address must begin with http://, https:// or the host.");
    scheme = given;
    schemeGiven = true;
    text.remove_prefix(colonSlashes + 3);
  }
  if (text.find_first_of("?#") != std::string_view::npos)
    return Refuse("The address must not contain a query or a fragment (\"?\" or \"#\").");
  if (text.find('@') != std::string_view::npos) return Refuse("The address must not contain a user name (\"user@\").");
  if (const size_t slash = text.find('/'); slash != std::string_view::npos) {
    if (!schemeGiven || slash + 1 != text.size()) return Refuse("The address must not contain a path after the host.");
    text.remove_suffix(1);
  }

  std::string_view host = text;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return Refuse("An IPv6 address must be closed with \"]\".");
    const std::string_view rest = host.substr(close + 1);
    host = host.substr(0, close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return Refuse("Only a port may follow an IPv6 address, after \":\".");
      port = rest.substr(1);
      if (port.empty()) return Refuse("The port must be a number from 1 to 65535.");
    }
    in6_addr unused{};
    const std::string inner(host.substr(1, host.size() - 2));
    if (inet_pton(AF_INET6, inner.c_str(), &unused) != 1)
      return Refuse("\"" + std::string(host) + "\" is not an IPv6 address.");
  } else {
    if (std::count(host.begin(), host.end(), ':') > 1)
      return Refuse("An IPv6 address must be written in brackets, as in [::1].");
    if (const size_t colon = host.find(':'); colon != std::string_view::npos) {
      port = host.substr(colon + 1);
      host = host.substr(0, colon);
      if (port.empty()) return Refuse("The port must be a number from 1 to 65535.");
    }
    if (host.empty()) return Refuse("The address names no host.");
    if (!IsIpv4(host) && !IsDnsName(host))
      return Refuse("\"" + std::string(host) + "\" is not a host name, an IPv4 address or a bracketed IPv6 address.");
  }

  std::string hostPort(host);
  if (!port.empty()) {
    const int number = IsDigits(port) && port.size() <= 5 ? std::stoi(std::string(port)) : 0;
    if (number < 1 || number > 65535) return Refuse("The port must be a number from 1 to 65535.");
    if (std::binary_search(std::begin(kEngineRefusedPorts), std::end(kEngineRefusedPorts), number))
      return Refuse("The web engine loads no pages from port " + std::to_string(number) +
                    ", which belongs to another service.");
    hostPort += ':' + std::to_string(number);
  }
  // Host names are compared without regard to case; the lower-case form is
  // the one requests and links carry.
  std::transform(hostPort.begin(), hostPort.end(), hostPort.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::u16string wideHost = quillmere::text::FromUtf8(hostPort);
  return {SiteAddress{wideHost, quillmere::text::FromUtf8(scheme + "://" + hostPort + "/")}, {}};
}

}  // namespace quillmere::site
