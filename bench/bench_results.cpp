// The results builder on site-shaped pages of 100 KiB and 10 MiB, beside a
// memcpy of the same text in the same run. The ratio between the two is the
// figure that matters; absolute times vary with the machine.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "net/Site.h"
#include "results/ResultsPage.h"

namespace {

using quillmere::results::BuildResultsPage;
using quillmere::results::Variant;

// A page in the site's shape: chrome, a results table of `bytes` characters
// or so with every link form the builder rewrites, then the navigation cell.
std::u16string MakePage(size_t bytes) {
  std::u16string page = u"<html><head><title>Index</title></head><body><div class=menu><a href=\"directory.asp\">Browse</a>"
                        u"</div><table class=results><tr><th>Type</th><th>Torrent Name</th><th>Size</th></tr>";
  const std::u16string row =
      u"<tr><td><a href=\"directory.asp?mode=sub&amp;cat=7\">Linux ISO</a></td>"
      u"<td><a href=\"search.asp?mode=torrentdetails&amp;id=123456&amp;name=debian-12.5.0-amd64-netinst\">"
      u"debian-12.5.0-amd64-netinst.iso</a></td><td><a href=\"download.asp?id=123456&amp;f=debian.torrent\">"
      u"<img src=\"images/downloadlock.gif\" border=0></a></td><td>628 MB</td><td>1520</td><td>37</td>"
      u"<td>2024-02-10</td></tr>\n";
  while (page.size() < bytes) page += row;
  page += u"</table><table><tr><td>Pages (40) <a href=\"search.asp?query=debian&amp;mode=search&amp;page=2\">2</a> "
          u"<a href=\"directory.asp?\">Browse</a></td></tr></table><div class=footer>footer</div></body></html>";
  return page;
}

const std::u16string& Page(int64_t size) {
  static const std::u16string small = MakePage(100 * 1024 / sizeof(char16_t));
  static const std::u16string large = MakePage(10 * 1024 * 1024 / sizeof(char16_t));
  return size == 0 ? small : large;
}

void BM_Builder(benchmark::State& state, Variant variant) {
  const std::u16string& page = Page(state.range(0));
  for (auto _ : state) {
    auto built = BuildResultsPage(page, quillmere::site::SiteBaseUrl(), variant);
    benchmark::DoNotOptimize(built.resultsRows.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size() * sizeof(char16_t)));
  state.SetLabel(state.range(0) == 0 ? "100KiB" : "10MiB");
}

void BM_Memcpy(benchmark::State& state) {
  const std::u16string& page = Page(state.range(0));
  std::u16string copy(page.size(), u'\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), page.data(), page.size() * sizeof(char16_t));
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size() * sizeof(char16_t)));
  state.SetLabel(state.range(0) == 0 ? "100KiB" : "10MiB");
}

BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Builder, main, Variant::MainWindow)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Builder, results, Variant::ResultsWindow)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
