#include "app/FetchNotice.h"

#include <chrono>

#include "net/CurlFacility.h"
#include "net/SiteAddress.h"
#include "net/UrlSplit.h"
#include "text/CodePage.h"

namespace quillmere::app {

using ModINET::FetchFailure;

namespace {

struct Where {
  std::string host;       // the name or address alone
  std::string authority;  // the host, and the port when the address writes one
  std::string hostPort;   // the host and the port, always
  std::string origin;
};

Where Split(std::string_view url) {
  ModINET::UrlParts parts;
  if (!ModINET::SplitUrl(url, parts) || parts.host.empty()) return {"the site", "the site", "the site", ""};
  const std::string hostPort = parts.host + ":" + std::to_string(parts.port);
  const bool portWritten = parts.port != ModINET::DefaultPort(parts.schemeNumber) ||
                           url.find(hostPort) != std::string_view::npos;
  return {parts.host, portWritten ? hostPort : parts.host, hostPort, parts.scheme + "://" + hostPort};
}

std::string Seconds(std::chrono::milliseconds limit) { return std::to_string(limit.count() / 1000) + " s"; }

// One sentence that names the host and the cause.
std::string FailureWords(const ModINET::FetchReport& report, const Where& where) {
  const ModINET::Timeouts limits;
  switch (report.failure) {
    case FetchFailure::NameNotFound: return where.host + " was not found.";
    case FetchFailure::ConnectionRefused: return "Nothing answers at " + where.hostPort + ".";
    case FetchFailure::ConnectTimeout: return "The site did not answer within " + Seconds(limits.connect) + ".";
    case FetchFailure::Stalled: return "The site stopped sending for " + Seconds(limits.stall) + ".";
    case FetchFailure::TotalTimeout: return "The site took longer than " + Seconds(limits.total) + " to send the page.";
    case FetchFailure::Tls: return "The secure connection to " + where.host + " failed.";
    case FetchFailure::TooLarge:
      return "The page from " + where.host + " is larger than " + std::to_string(ModINET::kMaxBodyBytes >> 20) +
             " MB.";
    case FetchFailure::TooManyRedirects: return where.host + " sent the request round in circles.";
    case FetchFailure::RefusedRedirect: return where.host + " sent the request on to an address that is not followed.";
    case FetchFailure::Cancelled: return "The search was stopped.";
    case FetchFailure::Other: return "The page could not be fetched from " + where.host + ".";
    case FetchFailure::None: break;
  }
  if (report.status >= 400) {
    std::string words = "The site answered " + std::to_string(report.status);
    if (!report.reason.empty()) words += " " + report.reason;
    return words + ".";
  }
  return where.host + " sent an empty page.";
}

}  // namespace

std::string Origin(std::string_view url) { return Split(url).origin; }

WindowNotice FetchNotice(FetchPurpose purpose, std::string_view url, const ModINET::FetchReport* report, bool gotPage,
                         std::string_view siteBaseUrl) {
  const Where asked = Split(url);
  WindowNotice notice;
  if (!report) {
    notice.state = NoticeState::Searching;
    notice.text = text::FromUtf8("Searching " + asked.authority + "\u2026");
    return notice;
  }
  const FetchFailure failure = report->failure;
  const bool failed = failure != FetchFailure::None || !gotPage || report->status >= 400;
  if (failed) {
    // A failure to connect is the host's that the fetch ended at.
    const Where& at = report->finalUrl.empty() ? asked : Split(report->finalUrl);
    std::string words = FailureWords(*report, at);
    if (purpose == FetchPurpose::Download) {
      if (failure == FetchFailure::Cancelled) return notice;
      words = "The download could not start: " + words;
    }
    notice.state = NoticeState::Failed;
    notice.text = text::FromUtf8(words);
    notice.tryAgain = purpose == FetchPurpose::Search;
    notice.siteAddress = failure == FetchFailure::NameNotFound || failure == FetchFailure::ConnectionRefused;
    return notice;
  }
  const Where ended = Split(report->finalUrl);
  const Where site = Split(siteBaseUrl);
  // An address that the setting would refuse is not offered: its button could
  // not take it.
  if (purpose == FetchPurpose::Search && asked.origin == site.origin && !ended.origin.empty() &&
      ended.origin != asked.origin && quillmere::site::ParseSiteAddress(ended.origin).address) {
    notice.state = NoticeState::Moved;
    notice.movedTo = ended.origin;
    notice.movedHost = ended.authority;
    notice.text = text::FromUtf8("The site now answers at " + ended.authority + ".");
  }
  return notice;
}

WindowNotice StoppedNotice(PageStop why) {
  WindowNotice notice;
  notice.state = NoticeState::Failed;
  notice.text = why == PageStop::Memory ? u"This page was stopped: it used too much memory."
                                        : u"This page was stopped: it kept the program busy.";
  return notice;
}

WindowNotice RefusedLinkNotice(std::string_view scheme) {
  WindowNotice notice;
  notice.state = NoticeState::Failed;
  notice.text = text::FromUtf8("The link was not followed: nothing here opens " + std::string(scheme) + ": links.");
  return notice;
}

}  // namespace quillmere::app
