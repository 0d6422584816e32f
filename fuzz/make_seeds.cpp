// quillmere-fuzz-seeds: writes the stand-in site's pages into a directory, as
// the site would serve them, to seed the fuzz targets.
//
//   quillmere-fuzz-seeds CATALOGUE OUTDIR
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "Catalogue.h"
#include "Pages.h"

using namespace quillmere::demosite;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quillmere-fuzz-seeds CATALOGUE OUTDIR\n";
    return 2;
  }
  std::string error;
  const auto catalogue = Catalogue::Load(argv[1], &error);
  if (!catalogue) {
    std::cerr << "quillmere-fuzz-seeds: " << error << '\n';
    return 1;
  }

  std::vector<std::pair<std::string, Page>> pages;
  pages.emplace_back("home", HomePage(*catalogue));
  pages.emplace_back("directory", DirectoryPage(*catalogue));
  pages.emplace_back("not-found", NotFoundPage("/nowhere.asp"));
  // Searches with several result pages, one page, none, and a query that
  // the site must escape.
  for (const char* query : {"debian", "debian+amd64", "linux", "zzzqqq", "%3Cb%3E+%26amp%3B", "caf%E9"})
    for (const char* page : {"1", "2"})
      pages.emplace_back(std::string("search-") + query + "-" + page, SearchPage(*catalogue, query, page));
  for (const Category& category : catalogue->Categories())
    for (const char* page : {"1", "2"})
      pages.emplace_back("category-" + std::to_string(category.id) + "-" + page,
                         CategoryPage(*catalogue, std::to_string(category.id), page));
  for (size_t i = 0; i < catalogue->Entries().size(); i += 40)
    pages.emplace_back("details-" + std::to_string(catalogue->Entries()[i].id),
                       DetailsPage(*catalogue, std::to_string(catalogue->Entries()[i].id)));

  const std::filesystem::path dir(argv[2]);
  std::filesystem::create_directories(dir);
  for (const auto& [name, page] : pages) {
    std::string file;
    for (char c : name) file += (std::isalnum(static_cast<unsigned char>(c)) || c == '-') ? c : '_';
    std::ofstream(dir / ("site-" + file + ".html"), std::ios::binary) << page.body;
  }
  return 0;
}
