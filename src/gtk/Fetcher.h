// The program's page fetcher on GTK. The window logic calls it and goes on
// with its result, in order, as with any blocking call; meanwhile the fetch
// runs on a worker thread and the main loop keeps running, so that every
// window repaints and answers the window manager. The windows take no input
// during that time (see Program), except Escape and closing, which give the
// fetch up.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Interfaces.h"
#include "net/FetchReport.h"

namespace quillmere::gtk {

// The one fetch that may run at a time, as the rest of the program sees it.
class FetchGate {
 public:
  static FetchGate& Instance();

  bool Running() const { return running_; }
  // Gives the running fetch up: it ends as a failed fetch does, with the
  // empty text. Does nothing when no fetch runs.
  void Cancel();

  // Called with true when a fetch starts and with false when it has ended
  // and its result is about to go back to the caller.
  using Listener = std::function<void(bool running)>;
  void SetListener(Listener listener) { listener_ = std::move(listener); }

  // The work of one fetch, run on a worker thread. It must end soon after
  // `cancelled` becomes true.
  using Work = std::function<std::u16string(std::u16string& contentType, const std::atomic<bool>& cancelled)>;
  // Runs `work` on a worker thread and the main loop until it is done.
  // Not re-entrant: the caller makes sure no second fetch starts meanwhile.
  std::u16string Run(Work work, std::u16string& contentType);

  // What became of the last fetch that Run made: the fetcher's report from
  // the worker thread, or a cancellation when it was given up.
  const ModINET::FetchReport& LastReport() const { return report_; }
  // Forgets it, so that a fetch made without the gate is not told another's.
  void ForgetReport() { report_ = {}; }

 private:
  bool running_ = false;
  ModINET::FetchReport report_;
  std::shared_ptr<std::atomic<bool>> cancelled_;
  Listener listener_;
};

// A PageFetcher that runs `fetch` through the gate. `fetch` is given a
// cancellation flag to pass on to its HTTP facility.
using CancellableFetch =
    std::function<std::u16string(const std::u16string& url, std::u16string& contentType,
                                 const std::u16string& postData, int32_t bufferSize, int32_t mode,
                                 const std::atomic<bool>& cancelled)>;
app::PageFetcher MakeWaitingFetcher(CancellableFetch fetch);

// ModINET::FetchPage on the libcurl facility, on a worker thread through the
// gate.
app::PageFetcher MakeBackgroundFetcher();

}  // namespace quillmere::gtk
