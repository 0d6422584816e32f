#include "net/ModINET.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "net/CurlFacility.h"
#include "net/Site.h"
#include "text/CodePage.h"

namespace ModINET {
namespace {

using quillmere::text::AppendFromCodePage;
using quillmere::text::FromCodePage;
using quillmere::text::ToCodePage;

constexpr uint32_t kContentTypeBufferSize = 255;

Service ServiceFor(Scheme scheme) {
  switch (scheme) {
    case Scheme::Ftp: return Service::Ftp;
    case Scheme::Gopher: return Service::Gopher;
    default: return Service::Http;
  }
}

bool IsBlank(const std::u16string& text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c == u' '; });
}

thread_local FetchReport lastReport;

// Leaves what became of a fetch as the thread's last report when the fetch
// returns, whichever way it returns. Before a request is made the facility has
// nothing to tell of this fetch.
class ReportOnReturn {
 public:
  ReportOnReturn(const HttpFacility& facility, const std::string& url) : facility_(facility), url_(url) {}
  ReportOnReturn(const ReportOnReturn&) = delete;
  ReportOnReturn& operator=(const ReportOnReturn&) = delete;
  ~ReportOnReturn() {
    FetchReport report = facility_.LastReport();
    if (!requested_) {
      const bool cancelled = report.failure == FetchFailure::Cancelled;
      report = FetchReport{};
      report.failure = cancelled ? FetchFailure::Cancelled : FetchFailure::Other;
    }
    if (report.finalUrl.empty()) report.finalUrl = url_;
    lastReport = std::move(report);
  }
  void Requested() { requested_ = true; }

 private:
  const HttpFacility& facility_;
  const std::string& url_;
  bool requested_ = false;
};

}  // namespace

const FetchReport& LastFetchReport() { return lastReport; }

std::u16string CutAtNul(const std::u16string& text) {
  const size_t nul = text.find(u'\0');
  return nul == std::u16string::npos ? text : text.substr(0, nul);
}

std::u16string QueryContentType(HttpFacility& facility, Handle request) {
  std::array<char, kContentTypeBufferSize> buffer{};
  if (!facility.QueryContentType(request, buffer.data(), kContentTypeBufferSize)) return {};
  return CutAtNul(FromCodePage(std::string_view(buffer.data(), buffer.size())));
}

std::u16string FetchPage(HttpFacility& facility, const std::u16string& url, std::u16string& contentType,
                         const std::u16string& postData, int32_t bufferSize, int32_t mode) {
  const std::string narrowUrl = ToCodePage(url);
  ReportOnReturn report(facility, narrowUrl);
  UrlParts parts;
  if (!facility.Split(narrowUrl, parts)) return {};
  const Service service = ServiceFor(parts.schemeNumber);

  HandleOwner root(facility, facility.OpenRoot(ToCodePage(quillmere::site::UserAgent)));
  if (!root) return {};
  // The connection is opened on both paths, although the direct request does
  // not use it, so that every fetch makes the same calls up to here.
  HandleOwner connection(facility, facility.Connect(root.get(), parts.host, parts.port, parts.user,
                                                    parts.password, service));
  if (!connection) return {};

  // Declared after the connection so that it is closed first.
  HandleOwner request(facility, 0);
  report.Requested();
  if (service == Service::Http && !IsBlank(postData)) {
    std::string verb;
    std::string path = parts.path;
    std::string headers;
    std::string body;
    if (mode == 1) {
      verb = "POST";
      headers = "Content-Type: text/html";
      body = ToCodePage(postData);
    } else {
      verb = "GET";
      path += '?';
      path += ToCodePage(postData);
    }
    // An https URL keeps its TLS on this path too; sending its data in clear
    // to port 443 would leak it and fail anyway.
    uint32_t flags = kFlagReload;
    if (parts.schemeNumber == Scheme::Https) flags |= kFlagSecure;
    request = HandleOwner(facility, facility.OpenRequest(connection.get(), verb, path, "HTTP/1.1",
                                                         ToCodePage(quillmere::site::SiteHost()), flags));
    if (!request) return {};
    if (!facility.SendRequest(request.get(), headers, body)) return {};
  } else {
    request = HandleOwner(facility, facility.OpenUrl(root.get(), narrowUrl, kFlagReload));
    if (!request) return {};
  }

  contentType = QueryContentType(facility, request.get());

  std::u16string result;
  // A page of megabytes grown step by step would cost its size twice over,
  // old and new buffer side by side, besides the copying. The announced
  // length is trusted only up to the largest body a fetch takes: memory
  // reserved and not written costs nothing more than its addresses.
  if (const int64_t announced = facility.BodyLengthHint(request.get()); announced > 0)
    result.reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(announced), kMaxBodyBytes)));
  const uint32_t size = static_cast<uint32_t>(std::max<int32_t>(bufferSize, 1));
  std::vector<char> buffer(size);
  for (;;) {
    uint32_t count = 0;
    if (!facility.Read(request.get(), buffer.data(), size, count) || count == 0) break;
    AppendFromCodePage(result, std::string_view(buffer.data(), std::min(count, size)));
  }
  return result;
}

std::u16string FetchPage(const std::u16string& url, std::u16string& contentType,
                         const std::u16string& postData, int32_t bufferSize, int32_t mode) {
  CurlFacility facility;
  return FetchPage(facility, url, contentType, postData, bufferSize, mode);
}

}  // namespace ModINET
