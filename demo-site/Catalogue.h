// The stand-in site's catalogue: categories and torrents, read from a small
// tab-separated data file, and the word search over torrent names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere::demosite {

struct Category {
  int id = 0;
  std::u16string name;
};

struct Entry {
  int id = 0;
  int categoryId = 0;
  std::string added;     // "YYYY-MM-DD"
  uint64_t sizeBytes = 0;
  int seeders = 0;
  int leechers = 0;
  std::string fileName;  // ASCII; the name of the payload inside the .torrent
  std::u16string name;   // what the listings show
  // The lower-cased words of `name`, kept for searching.
  std::vector<std::u16string> words;
};

class Catalogue {
 public:
  // Parses the data file's text (UTF-8). Comment lines start with "#". On a
  // malformed line, returns nothing and sets `error` to say which line.
  static std::optional<Catalogue> Parse(std::string_view text, std::string* error);
  static std::optional<Catalogue> Load(const std::string& path, std::string* error);

  const std::vector<Category>& Categories() const { return categories_; }
  const std::vector<Entry>& Entries() const { return entries_; }
  const Category* FindCategory(int id) const;
  const Entry* FindEntry(int id) const;
  size_t CountInCategory(int categoryId) const;

  // Entries, in catalogue order, whose names hold every word of `query`: each
  // query word must begin a word of the name, letter case ignored. A query
  // without any word matches nothing.
  std::vector<const Entry*> Search(std::u16string_view query) const;
  std::vector<const Entry*> InCategory(int categoryId) const;

 private:
  std::vector<Category> categories_;
  std::vector<Entry> entries_;
};

// The lower-cased words of a text: runs of letters, digits and euro signs.
// Punctuation, dashes, quotes and other symbols separate words.
std::vector<std::u16string> SplitWords(std::u16string_view text);

}  // namespace quillmere::demosite
