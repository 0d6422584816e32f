// quillmere-page: shows what the program makes of a saved site page.
//
//   quillmere-page [--variant main|results] FILE
//
// Reads FILE as bytes, decodes it as the fetcher does, builds the results page
// and writes it to standard output in UTF-8: the three texts that a results
// window would get, in order, with nothing added.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "net/Site.h"
#include "results/ResultsPage.h"
#include "text/CodePage.h"

namespace {

constexpr int kUsageError = 2;

int Fail(const std::string& message) {
  std::cerr << "quillmere-page: " << message << '\n';
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  using quillmere::results::Variant;
  Variant variant = Variant::MainWindow;
  std::optional<std::string> path;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--variant") {
      if (i + 1 >= argc) return Fail("--variant needs a value: main or results");
      const std::string_view value = argv[++i];
      if (value == "main") {
        variant = Variant::MainWindow;
      } else if (value == "results") {
        variant = Variant::ResultsWindow;
      } else {
        return Fail("unknown variant '" + std::string(value) + "': use main or results");
      }
    } else if (arg.size() > 1 && arg.front() == '-' && arg != "-") {
      return Fail("unknown option '" + std::string(arg) + "'; usage: quillmere-page [--variant main|results] FILE");
    } else if (path) {
      return Fail("only one FILE may be given");
    } else {
      path = std::string(arg);
    }
  }
  if (!path) return Fail("no FILE given; usage: quillmere-page [--variant main|results] FILE");

  std::ifstream in(*path, std::ios::binary);
  if (!in) return Fail("cannot open '" + *path + "': " + std::strerror(errno));
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Fail("cannot read '" + *path + "'");

  const std::u16string page = quillmere::text::FromCodePage(bytes);
  const quillmere::results::BuiltPage built =
      quillmere::results::BuildResultsPage(page, quillmere::site::SiteBaseUrl(), variant);
  for (std::u16string_view text : built.Writes()) std::cout << quillmere::text::ToUtf8(text);
  std::cout.flush();
  return std::cout ? 0 : 1;
}
