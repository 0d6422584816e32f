// FetchPage of a 4 MiB page from a loopback server, beside a bare libcurl
// transfer of the same URL into memory. Goal: the fetch takes at most 1.3
// times the bare transfer.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "net/ModINET.h"
#include "text/CodePage.h"

namespace {

constexpr size_t kPageBytes = 4 * 1024 * 1024;

class PageServer {
 public:
  PageServer() {
    // Loopback traffic must not take a detour through a proxy from the environment.
    ::setenv("no_proxy", "*", 1);
    page_.reserve(kPageBytes);
    while (page_.size() < kPageBytes) page_ += "<tr><td><a href=\"download.asp?id=42\">Some torrent name</a></td></tr>\n";
    page_.resize(kPageBytes);
    server_.Get("/page", [this](const httplib::Request&, httplib::Response& res) { res.set_content(page_, "text/html"); });
    // The same page without a Content-Length, as servers that stream send it.
    server_.Get("/chunked", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/html", [this](size_t offset, httplib::DataSink& sink) {
        constexpr size_t kChunk = 16 * 1024;
        if (offset < page_.size()) {
          sink.write(page_.data() + offset, std::min(kChunk, page_.size() - offset));
        } else {
          sink.done();
        }
        return true;
      });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
    url_ = "http://127.0.0.1:" + std::to_string(port_);
  }
  ~PageServer() {
    server_.stop();
    thread_.join();
  }
  std::string url(int64_t chunked) const { return url_ + (chunked ? "/chunked" : "/page"); }

 private:
  std::string page_;
  httplib::Server server_;
  int port_ = 0;
  std::string url_;
  std::thread thread_;
};

PageServer& Server() {
  static PageServer server;
  return server;
}

void BM_FetchPage(benchmark::State& state) {
  const std::u16string url = quillmere::text::FromCodePage(Server().url(state.range(0)));
  for (auto _ : state) {
    std::u16string type;
    const std::u16string body = ModINET::FetchPage(url, type, u"", 1024, 1);
    if (body.size() != kPageBytes) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_FetchPage)->ArgName("chunked")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void BM_BareCurl(benchmark::State& state) {
  const std::string url = Server().url(state.range(0));
  for (auto _ : state) {
    std::string body;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(easy.get()) != CURLE_OK || body.size() != kPageBytes) state.SkipWithError("transfer failed");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_BareCurl)->ArgName("chunked")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
