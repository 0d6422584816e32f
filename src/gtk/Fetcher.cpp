#include "gtk/Fetcher.h"

#include <glib.h>

#include <thread>

#include "net/CurlFacility.h"
#include "net/ModINET.h"
#include "net/Site.h"
#include "net/SiteLink.h"

namespace quillmere::gtk {

FetchGate& FetchGate::Instance() {
  static FetchGate gate;
  return gate;
}

void FetchGate::Cancel() {
  if (running_ && cancelled_) cancelled_->store(true);
}

std::u16string FetchGate::Run(Work work, std::u16string& contentType) {
  struct Job {
    std::atomic<bool> done{false};
    std::u16string contentType;
    std::u16string result;
    ModINET::FetchReport report;
  };
  auto job = std::make_shared<Job>();
  job->contentType = contentType;
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  cancelled_ = cancelled;
  running_ = true;
  if (listener_) listener_(true);

  GMainContext* context = g_main_context_default();
  std::thread worker([job, cancelled, context, work = std::move(work)] {
    job->result = work(job->contentType, *cancelled);
    job->report = ModINET::LastFetchReport();
    job->done.store(true);
    // Ends the wait below, which may be asleep in the main loop's poll.
    g_main_context_wakeup(context);
  });
  // Nested iterations of the main loop: windows paint, the window manager's
  // pings are answered, and closing and Escape reach the gate. What would
  // start another handler is refused by the views and windows while
  // running_ is set.
  while (!job->done.load()) g_main_context_iteration(context, TRUE);
  worker.join();

  running_ = false;
  cancelled_.reset();
  const bool gaveUp = cancelled->load();
  report_ = std::move(job->report);
  if (gaveUp) report_.failure = ModINET::FetchFailure::Cancelled;
  if (listener_) listener_(false);
  if (gaveUp) return {};
  contentType = std::move(job->contentType);
  return std::move(job->result);
}

app::PageFetcher MakeWaitingFetcher(CancellableFetch fetch) {
  return [fetch = std::move(fetch)](const std::u16string& url, std::u16string& contentType,
                                    const std::u16string& postData, int32_t bufferSize, int32_t mode) {
    return FetchGate::Instance().Run(
        [&](std::u16string& type, const std::atomic<bool>& cancelled) {
          return fetch(url, type, postData, bufferSize, mode, cancelled);
        },
        contentType);
  };
}

app::PageFetcher MakeBackgroundFetcher() {
  return MakeWaitingFetcher([](const std::u16string& url, std::u16string& contentType, const std::u16string& postData,
                               int32_t bufferSize, int32_t mode, const std::atomic<bool>& cancelled) {
    // A site on a public address may not lead the fetcher to a local one; the
    // stand-in site, on loopback itself, may.
    const ModINET::LocalRedirects localRedirects = site::IsSiteLocal(site::SiteBaseUrl())
                                                              ? ModINET::LocalRedirects::Allowed
                                                              : ModINET::LocalRedirects::Refused;
    ModINET::CurlFacility facility(ModINET::Timeouts{}, ModINET::SystemProxyFor, &cancelled, localRedirects);
    return ModINET::FetchPage(facility, url, contentType, postData, bufferSize, mode);
  });
}

}  // namespace quillmere::gtk
