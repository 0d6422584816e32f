#include "net/CurlFacility.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "net/SiteLink.h"

namespace ModINET {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 20;
// How long one wait for the network may last at most, and, when the transfer
// can be cancelled, how late a cancellation may be noticed.
constexpr int64_t kLongestWaitMs = 1000;
constexpr int64_t kCancellableWaitMs = 50;

// Whether the flag that another thread may set has been set; no flag, never.
bool IsSet(const std::atomic<bool>* flag) { return flag != nullptr && flag->load(std::memory_order_acquire); }

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool Append(SlistPtr& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  list.release();
  list.reset(grown);
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// libcurl refuses URLs with blanks or control bytes in them, and bytes above
// 0x7F are not valid in a request line; the browser sends them escaped, and
// so do we. Everything else, "%" included, goes as it stands.
std::string EscapeForRequest(std::string_view url, bool escapeHash) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (char c : url) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || (escapeHash && c == '#')) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Whether libcurl will take a proxy for `url` from the environment. It reads
// only the lower-case http_proxy for http, so the same is checked here.
bool EnvironmentNamesProxy(std::string_view url) {
  if (StartsWithNoCase(url, "https:")) {
    if (EnvironmentSet("https_proxy") || EnvironmentSet("HTTPS_PROXY")) return true;
  } else if (EnvironmentSet("http_proxy")) {
    return true;
  }
  return EnvironmentSet("all_proxy") || EnvironmentSet("ALL_PROXY");
}

}  // namespace

FetchFailure ClassifyCurlResult(int code, bool redirected, bool bodyCut) {
  switch (static_cast<CURLcode>(code)) {
    case CURLE_OK: return FetchFailure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return FetchFailure::NameNotFound;
    case CURLE_COULDNT_CONNECT: return FetchFailure::ConnectionRefused;
    // Only the connection has a limit of libcurl's own; the others are the
    // facility's.
    case CURLE_OPERATION_TIMEDOUT: return FetchFailure::ConnectTimeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED: return FetchFailure::Tls;
    case CURLE_WRITE_ERROR: return bodyCut ? FetchFailure::TooLarge : FetchFailure::Other;
    case CURLE_TOO_MANY_REDIRECTS: return FetchFailure::TooManyRedirects;
    // The fetcher refuses some redirect targets by aborting the transfer from
    // a callback; a cancellation by the user is told apart before this.
    case CURLE_ABORTED_BY_CALLBACK: return FetchFailure::RefusedRedirect;
    case CURLE_UNSUPPORTED_PROTOCOL: return redirected ? FetchFailure::RefusedRedirect : FetchFailure::Other;
    default: return FetchFailure::Other;
  }
}

// One libcurl transfer on a multi handle of its own. The body is buffered by
// the write callback only as far as the reader has asked for it: the transfer
// moves on only inside Drive.
class Transfer {
 public:
  // What becomes of the transfer is kept in `report`, which outlives it.
  Transfer(const Timeouts& timeouts, const std::atomic<bool>* cancelled, LocalRedirects localRedirects,
           FetchReport& report)
      : timeouts_(timeouts), cancelled_(cancelled), localRedirects_(localRedirects), report_(report) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
  }

  bool Init(const std::string& url, const std::string& userAgent, const std::string& proxy) {
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
    if (!multi_ || !easy_) return false;
    url_ = url;
    report_ = FetchReport{};
    report_.finalUrl = url;
    userAgent_ = userAgent;
    proxy_ = proxy;
    CURL* e = easy_.get();
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) { ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK; };
    set(CURLOPT_URL, url_.c_str());
    set(CURLOPT_USERAGENT, userAgent_.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, kMaxRedirects);
    set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    set(CURLOPT_XFERINFODATA, this);
    set(CURLOPT_NOPROGRESS, 0L);
    if (!proxy_.empty()) set(CURLOPT_PROXY, proxy_.c_str());
    if (localRedirects_ == LocalRedirects::Refused) {
      proxied_ = !proxy_.empty() || EnvironmentNamesProxy(url_);
      set(CURLOPT_PREREQFUNCTION, &Transfer::OnPrereq);
      set(CURLOPT_PREREQDATA, this);
    }
    return ok;
  }

  bool SetCredentials(const std::string& user, const std::string& password) {
    user_ = user;
    password_ = password;
    if (user_.empty()) return true;
    return curl_easy_setopt(easy_.get(), CURLOPT_USERNAME, user_.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_.get(), CURLOPT_PASSWORD, password_.c_str()) == CURLE_OK;
  }

  void SetRequest(std::string verb, std::string referrer) {
    verb_ = std::move(verb);
    referrer_ = std::move(referrer);
  }

  // Starts the transfer with the given extra header lines (CRLF-separated)
  // and body, and runs it until the final response's headers are in. False
  // when it fails before that.
  bool Start(std::string_view extraHeaders, std::string_view body) {
    if (started_) return false;
    started_ = true;
    CURL* e = easy_.get();
    // No cache between us and the server may answer in its place.
    if (!Append(headers_, "Cache-Control: no-cache") || !Append(headers_, "Pragma: no-cache") ||
        !Append(headers_, "Expect:"))
      return false;
    while (!extraHeaders.empty()) {
      const size_t end = std::min(extraHeaders.find("\r\n"), extraHeaders.size());
      const std::string_view line = Trim(extraHeaders.substr(0, end));
      if (!line.empty() && !Append(headers_, std::string(line))) return false;
      extraHeaders.remove_prefix(std::min(end + 2, extraHeaders.size()));
    }
    bool ok = curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK;
    if (!referrer_.empty()) ok = ok && curl_easy_setopt(e, CURLOPT_REFERER, referrer_.c_str()) == CURLE_OK;
    if (verb_ == "POST") {
      ok = ok && curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) == CURLE_OK &&
           curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, std::string(body).c_str()) == CURLE_OK;
    } else if (!verb_.empty() && verb_ != "GET") {
      ok = ok && curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_.c_str()) == CURLE_OK;
    }
    if (!ok || curl_multi_add_handle(multi_.get(), e) != CURLM_OK) return false;
    attached_ = true;
    lastActivity_ = Clock::now();
    deadline_ = lastActivity_ + timeouts_.total;
    Drive([this] { return finalHeaders_ || bodyStarted_; });
    if (finalHeaders_ || bodyStarted_) return true;
    return done_ && !failed_;
  }

  bool ContentType(char* buffer, uint32_t size) const {
    if (!contentType_ || contentType_->size() + 1 > size) return false;
    std::memcpy(buffer, contentType_->data(), contentType_->size());
    buffer[contentType_->size()] = '\0';
    return true;
  }

  int64_t AnnouncedLength() const {
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return -1;
    return static_cast<int64_t>(length);
  }

  bool Read(char* buffer, uint32_t size, uint32_t& count) {
    count = 0;
    if (!started_) return false;
    if (Available() == 0 && !done_) Drive([this] { return Available() > 0; });
    if (const size_t available = Available(); available > 0) {
      const size_t n = std::min<size_t>(available, size);
      std::memcpy(buffer, pending_.data() + readPos_, n);
      readPos_ += n;
      if (readPos_ == pending_.size()) {
        pending_.clear();
        readPos_ = 0;
      }
      count = static_cast<uint32_t>(n);
      return true;
    }
    return done_ && !failed_;
  }

 private:
  size_t Available() const { return pending_.size() - readPos_; }

  template <typename Ready>
  void Drive(Ready ready) {
    while (!done_ && !ready()) {
      if (IsSet(cancelled_)) {
        Finish(FetchFailure::Cancelled);
        break;
      }
      int running = 0;
      if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
        Finish(FetchFailure::Other);
        break;
      }
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        long redirects = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_COUNT, &redirects);
        Finish(IsSet(cancelled_) ? FetchFailure::Cancelled
                                 : ClassifyCurlResult(message->data.result, redirects > 0, received_ >= kMaxBodyBytes));
      }
      if (done_ || ready()) break;
      // Whichever limit comes first ends the transfer; the wait below never
      // runs past it.
      const auto now = Clock::now();
      const auto end = std::min(lastActivity_ + timeouts_.stall, deadline_);
      if (IsSet(cancelled_)) {
        Finish(FetchFailure::Cancelled);
        break;
      }
      if (now >= end) {
        Finish(now >= deadline_ ? FetchFailure::TotalTimeout : FetchFailure::Stalled);
        break;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
      const int64_t longest = cancelled_ != nullptr ? kCancellableWaitMs : kLongestWaitMs;
      const int wait = static_cast<int>(std::clamp<int64_t>(left.count() + 1, 1, longest));
      if (curl_multi_poll(multi_.get(), nullptr, 0, wait, nullptr) != CURLM_OK) {
        Finish(FetchFailure::Other);
        break;
      }
    }
  }

  void Finish(FetchFailure failure) {
    done_ = true;
    failed_ = failure != FetchFailure::None;
    report_.failure = failure;
    const char* where = nullptr;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &where) == CURLE_OK && where) report_.finalUrl = where;
    if (attached_) {
      curl_multi_remove_handle(multi_.get(), easy_.get());
      attached_ = false;
    }
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const size_t n = size * count;
    self->lastActivity_ = Clock::now();
    self->bodyStarted_ = true;
    const uint64_t room = kMaxBodyBytes - self->received_;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, room));
    self->pending_.append(data, take);
    self->received_ += take;
    // Taking less than was offered makes libcurl end the transfer with an
    // error, so the reader gets what came before the limit and then a failed read.
    return take;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const size_t n = size * count;
    self->lastActivity_ = Clock::now();
    const std::string_view line(data, n);
    if (StartsWithNoCase(line, "HTTP/")) {
      // A new response begins: a redirect's or an interim one's fields do not
      // belong to it.
      self->status_ = 0;
      self->locationSeen_ = false;
      self->contentType_.reset();
      const size_t space = line.find(' ');
      size_t i = space == std::string_view::npos ? line.size() : space + 1;
      for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
        self->status_ = self->status_ * 10 + (line[i] - '0');
      self->report_.status = self->status_;
      self->report_.reason = Trim(line.substr(i));
    } else if (Trim(line).empty()) {
      const bool interim = self->status_ < 200;
      const bool redirect = self->status_ >= 300 && self->status_ < 400 && self->locationSeen_;
      if (!interim && !redirect) self->finalHeaders_ = true;
    } else if (StartsWithNoCase(line, "content-type:")) {
      if (!self->contentType_) self->contentType_ = std::string(Trim(line.substr(13)));
    } else if (StartsWithNoCase(line, "location:")) {
      self->locationSeen_ = true;
    }
    return n;
  }

  static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* self = static_cast<Transfer*>(user);
    // Sending a request body counts as life too.
    if (uploaded != self->uploaded_) {
      self->uploaded_ = uploaded;
      self->lastActivity_ = Clock::now();
    }
    return 0;
  }

  // Every request of a transfer after its first follows a redirect. Where it
  // leads is judged by the host its address names and, with no proxy in
  // between, by the address connected to, which a name may stand for.
  static int OnPrereq(void* user, char* primaryIp, char*, int, int) {
    auto* self = static_cast<Transfer*>(user);
    if (self->requests_++ == 0) return CURL_PREREQFUNC_OK;
    if (!self->proxied_ && quillmere::site::IsLocalHost(primaryIp)) return CURL_PREREQFUNC_ABORT;
    char* url = nullptr;
    char* host = nullptr;
    CURLU* parsed = curl_url();
    const bool named = curl_easy_getinfo(self->easy_.get(), CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url &&
                       parsed && curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK &&
                       curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK;
    const bool local = !named || quillmere::site::IsLocalHost(host);
    curl_free(host);
    curl_url_cleanup(parsed);
    return local ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
  }

  Timeouts timeouts_;
  const std::atomic<bool>* cancelled_;
  LocalRedirects localRedirects_;
  bool proxied_ = false;
  int requests_ = 0;
  FetchReport& report_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::unique_ptr<CURL, EasyDeleter> easy_;
  SlistPtr headers_;
  // libcurl keeps pointers to these option strings.
  std::string url_, userAgent_, proxy_, user_, password_, verb_, referrer_;

  bool attached_ = false;
  bool started_ = false;
  bool done_ = false;
  bool failed_ = false;
  bool finalHeaders_ = false;
  bool bodyStarted_ = false;
  bool locationSeen_ = false;
  int status_ = 0;
  std::optional<std::string> contentType_;
  std::string pending_;
  size_t readPos_ = 0;
  uint64_t received_ = 0;
  curl_off_t uploaded_ = 0;
  Clock::time_point lastActivity_ = Clock::now();
  Clock::time_point deadline_ = Clock::time_point::max();
};

struct CurlFacility::Object {
  enum class Kind { Root, Connection, Request } kind;
  std::string userAgent;  // every kind carries its root's
  std::string host, user, password;
  int32_t port = 0;
  Service service = Service::Http;
  std::unique_ptr<Transfer> transfer;
};

CurlFacility::CurlFacility(Timeouts timeouts, ProxyLookup proxyLookup, const std::atomic<bool>* cancelled,
                           LocalRedirects localRedirects)
    : timeouts_(timeouts), proxyLookup_(std::move(proxyLookup)), cancelled_(cancelled), localRedirects_(localRedirects) {
  GlobalInit();
}

CurlFacility::~CurlFacility() = default;

// Once cancelled, no handle is found any more, so every call but Close fails.
CurlFacility::Object* CurlFacility::Find(Handle handle) {
  if (IsSet(cancelled_)) return nullptr;
  const auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second.get();
}

Handle CurlFacility::Add(std::unique_ptr<Object> object) {
  const Handle handle = nextHandle_++;
  objects_.emplace(handle, std::move(object));
  return handle;
}

bool CurlFacility::Split(std::string_view url, UrlParts& parts) { return !IsSet(cancelled_) && SplitUrl(url, parts); }

Handle CurlFacility::OpenRoot(std::string_view userAgent) {
  if (IsSet(cancelled_)) return 0;
  auto root = std::make_unique<Object>();
  root->kind = Object::Kind::Root;
  root->userAgent.assign(userAgent);
  return Add(std::move(root));
}

Handle CurlFacility::Connect(Handle root, std::string_view host, int32_t port, std::string_view user,
                             std::string_view password, Service service) {
  const Object* parent = Find(root);
  if (parent == nullptr || parent->kind != Object::Kind::Root || host.empty()) return 0;
  if (port < 1 || port > 65535) return 0;
  auto connection = std::make_unique<Object>();
  connection->kind = Object::Kind::Connection;
  connection->userAgent = parent->userAgent;
  connection->host.assign(host);
  connection->port = port;
  connection->user.assign(user);
  connection->password.assign(password);
  connection->service = service;
  return Add(std::move(connection));
}

Handle CurlFacility::OpenRequest(Handle connection, std::string_view verb, std::string_view path,
                                 std::string_view /*version: always HTTP/1.1*/, std::string_view referrer,
                                 uint32_t flags) {
  const Object* parent = Find(connection);
  if (parent == nullptr || parent->kind != Object::Kind::Connection || parent->service != Service::Http) return 0;
  std::string url = (flags & kFlagSecure) != 0 ? "https://" : "http://";
  url += parent->host;
  url += ':';
  url += std::to_string(parent->port);
  if (path.empty() || path.front() != '/') url += '/';
  url += EscapeForRequest(path, true);

  auto request = std::make_unique<Object>();
  request->kind = Object::Kind::Request;
  request->transfer = std::make_unique<Transfer>(timeouts_, cancelled_, localRedirects_, lastReport_);
  const std::string proxy = EnvironmentNamesProxy(url) || !proxyLookup_ ? std::string() : proxyLookup_(url);
  if (!request->transfer->Init(url, parent->userAgent, proxy) ||
      !request->transfer->SetCredentials(parent->user, parent->password))
    return 0;
  request->transfer->SetRequest(std::string(verb), std::string(referrer));
  return Add(std::move(request));
}

bool CurlFacility::SendRequest(Handle request, std::string_view headers, std::string_view body) {
  Object* object = Find(request);
  if (object == nullptr || object->kind != Object::Kind::Request) return false;
  return object->transfer->Start(headers, body);
}

Handle CurlFacility::OpenUrl(Handle root, std::string_view url, uint32_t /*flags: no cache ever*/) {
  const Object* parent = Find(root);
  if (parent == nullptr || parent->kind != Object::Kind::Root) return 0;
  const std::string escaped = EscapeForRequest(url, false);
  auto request = std::make_unique<Object>();
  request->kind = Object::Kind::Request;
  request->transfer = std::make_unique<Transfer>(timeouts_, cancelled_, localRedirects_, lastReport_);
  const std::string proxy =
      EnvironmentNamesProxy(escaped) || !proxyLookup_ ? std::string() : proxyLookup_(escaped);
  if (!request->transfer->Init(escaped, parent->userAgent, proxy)) return 0;
  request->transfer->SetRequest("GET", "");
  if (!request->transfer->Start({}, {})) return 0;
  return Add(std::move(request));
}

bool CurlFacility::QueryContentType(Handle request, char* buffer, uint32_t size) {
  const Object* object = Find(request);
  if (object == nullptr || object->kind != Object::Kind::Request) return false;
  return object->transfer->ContentType(buffer, size);
}

bool CurlFacility::Read(Handle request, char* buffer, uint32_t size, uint32_t& count) {
  count = 0;
  Object* object = Find(request);
  if (object == nullptr || object->kind != Object::Kind::Request) return false;
  return object->transfer->Read(buffer, size, count);
}

void CurlFacility::Close(Handle handle) { objects_.erase(handle); }

FetchReport CurlFacility::LastReport() const {
  FetchReport report = lastReport_;
  if (IsSet(cancelled_)) report.failure = FetchFailure::Cancelled;
  return report;
}

int64_t CurlFacility::BodyLengthHint(Handle request) {
  const Object* object = Find(request);
  if (object == nullptr || object->kind != Object::Kind::Request) return -1;
  return object->transfer->AnnouncedLength();
}

}  // namespace ModINET
