// quillmere-fuzz-seeds: writes the stand-in site's pages into a directory, as
// the site would serve them, to seed the fuzz targets.
//
//   quillmere-fuzz-seeds CATALOGUE OUTDIR
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "Catalogue.h"
#include "Pages.h"

using namespace quillmere::demosite;

int main(int argc, char** argv) {
  std::string error;
  const auto catalogue = argc == 3 ? Catalogue::Load(argv[1], &error) : std::nullopt;
  if (!catalogue) {
    std::cerr << (argc == 3 ? "quillmere-fuzz-seeds: " + error : "usage: quillmere-fuzz-seeds CATALOGUE OUTDIR") << '\n';
    return argc == 3 ? 1 : 2;
  }
  const std::filesystem::path dir(argv[2]);
  std::filesystem::create_directories(dir);
  int n = 0;
  const auto write = [&](const Page& page) { std::ofstream(dir / ("site-" + std::to_string(++n) + ".html")) << page.body; };
  write(HomePage(*catalogue));
  write(DirectoryPage(*catalogue));
  write(NotFoundPage("/nowhere.asp"));
  // Searches with several result pages, one page, none, and queries that the site must escape.
  for (const char* query : {"debian", "debian+amd64", "linux", "zzzqqq", "%3Cb%3E+%26amp%3B", "caf%E9"})
    for (const char* page : {"1", "2"}) write(SearchPage(*catalogue, query, page));
  for (const Category& category : catalogue->Categories())
    for (const char* page : {"1", "2"}) write(CategoryPage(*catalogue, std::to_string(category.id), page));
  for (size_t i = 0; i < catalogue->Entries().size(); i += 40)
    write(DetailsPage(*catalogue, std::to_string(catalogue->Entries()[i].id)));
  return 0;
}
