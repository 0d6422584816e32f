// A facility that serves a scripted response, records every call with its
// arguments, and fails any one operation on demand.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "net/HttpFacility.h"

namespace nettest {

enum class Op { Split, OpenRoot, Connect, OpenRequest, SendRequest, OpenUrl, QueryContentType, Read };

class FakeFacility : public ModINET::HttpFacility {
 public:
  static constexpr ModINET::Handle kRoot = 101;
  static constexpr ModINET::Handle kConnection = 202;
  static constexpr ModINET::Handle kRequest = 303;

  // Script.
  std::optional<Op> failing;
  std::vector<std::string> chunks{"<html>", "body", "</html>"};
  size_t readsBeforeFailure = SIZE_MAX;  // successful reads before the read that fails
  std::optional<std::string> contentType = std::string("text/html");
  int64_t lengthHint = -1;

  // Record.
  std::vector<std::string> calls;
  std::vector<ModINET::Handle> closed;
  std::string agent, host, user, password, verb, path, version, referrer, headers, body, url;
  int32_t port = 0;
  ModINET::Service service{};
  uint32_t flags = 0;
  std::vector<uint32_t> readSizes;

  bool Split(std::string_view u, ModINET::UrlParts& parts) override {
    calls.push_back("Split");
    url.assign(u);
    return failing != Op::Split && ModINET::SplitUrl(u, parts);
  }
  ModINET::Handle OpenRoot(std::string_view a) override {
    calls.push_back("OpenRoot");
    agent.assign(a);
    return failing == Op::OpenRoot ? 0 : kRoot;
  }
  ModINET::Handle Connect(ModINET::Handle root, std::string_view h, int32_t p, std::string_view u,
                          std::string_view pw, ModINET::Service s) override {
    calls.push_back("Connect");
    if (root != kRoot) return 0;
    host.assign(h);
    port = p;
    user.assign(u);
    password.assign(pw);
    service = s;
    return failing == Op::Connect ? 0 : kConnection;
  }
  ModINET::Handle OpenRequest(ModINET::Handle connection, std::string_view v, std::string_view p,
                              std::string_view ver, std::string_view r, uint32_t f) override {
    calls.push_back("OpenRequest");
    if (connection != kConnection) return 0;
    verb.assign(v);
    path.assign(p);
    version.assign(ver);
    referrer.assign(r);
    flags = f;
    return failing == Op::OpenRequest ? 0 : kRequest;
  }
  bool SendRequest(ModINET::Handle request, std::string_view h, std::string_view b) override {
    calls.push_back("SendRequest");
    headers.assign(h);
    body.assign(b);
    return request == kRequest && failing != Op::SendRequest;
  }
  ModINET::Handle OpenUrl(ModINET::Handle root, std::string_view u, uint32_t f) override {
    calls.push_back("OpenUrl");
    if (root != kRoot) return 0;
    url.assign(u);
    flags = f;
    return failing == Op::OpenUrl ? 0 : kRequest;
  }
  bool QueryContentType(ModINET::Handle request, char* buffer, uint32_t size) override {
    calls.push_back("QueryContentType");
    if (request != kRequest || failing == Op::QueryContentType || !contentType) return false;
    if (contentType->size() + 1 > size) return false;
    std::memcpy(buffer, contentType->data(), contentType->size());
    buffer[contentType->size()] = '\0';
    return true;
  }
  bool Read(ModINET::Handle request, char* buffer, uint32_t size, uint32_t& count) override {
    calls.push_back("Read");
    readSizes.push_back(size);
    count = 0;
    if (request != kRequest) return false;
    if (reads_ == readsBeforeFailure) return false;
    if (reads_ >= chunks.size()) return true;
    const std::string& chunk = chunks[reads_++];
    count = static_cast<uint32_t>(std::min<size_t>(chunk.size(), size));
    std::memcpy(buffer, chunk.data(), count);
    return true;
  }
  int64_t BodyLengthHint(ModINET::Handle) override { return lengthHint; }
  void Close(ModINET::Handle handle) override {
    calls.push_back("Close");
    closed.push_back(handle);
  }

 private:
  size_t reads_ = 0;
};

}  // namespace nettest
