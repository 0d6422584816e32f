#include "Catalogue.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

#include "text/CodePage.h"
#include "text/Text.h"

namespace quillmere::demosite {

namespace {

bool IsWordChar(char16_t c) {
  if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
    return true;
  }
  // The euro sign counts as a word, so that prices in names can be found.
  if (c == 0x20AC) {
    return true;
  }
  // Latin letters with accents (without the multiplication and division
  // signs), then Greek and Cyrillic.
  if (c >= 0x00C0 && c <= 0x024F) {
    return c != 0x00D7 && c != 0x00F7;
  }
  return c >= 0x0370 && c <= 0x052F;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t from = 0;
  for (;;) {
    const size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
    if (tab == std::string_view::npos) {
      return fields;
    }
    from = tab + 1;
  }
}

template <typename Number>
bool ParseNumber(std::string_view field, Number& out) {
  if (field.empty()) {
    return false;
  }
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out);
  return ec == std::errc() && end == field.data() + field.size() && out >= 0;
}

bool IsDate(std::string_view s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') {
    return false;
  }
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (s[i] < '0' || s[i] > '9') {
      return false;
    }
  }
  return true;
}

bool IsPlainFileName(std::string_view s) {
  if (s.empty() || s == "." || s == "..") {
    return false;
  }
  return std::all_of(s.begin(), s.end(), [](char c) {
    return c > 0x20 && c < 0x7F && c != '/' && c != '\\' && c != '"';
  });
}

bool WordsMatch(const std::vector<std::u16string>& nameWords, const std::vector<std::u16string>& queryWords) {
  return std::all_of(queryWords.begin(), queryWords.end(), [&](const std::u16string& q) {
    return std::any_of(nameWords.begin(), nameWords.end(),
                       [&](const std::u16string& w) { return w.starts_with(q); });
  });
}

}  // namespace

std::vector<std::u16string> SplitWords(std::u16string_view text) {
  std::vector<std::u16string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && !IsWordChar(text[i])) {
      ++i;
    }
    const size_t start = i;
    while (i < text.size() && IsWordChar(text[i])) {
      ++i;
    }
    if (i > start) {
      words.push_back(text::Lower(text.substr(start, i - start)));
    }
  }
  return words;
}

std::optional<Catalogue> Catalogue::Parse(std::string_view text, std::string* error) {
  Catalogue catalogue;
  std::set<int> seenIds;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) -> std::optional<Catalogue> {
    if (error) {
      *error = "line " + std::to_string(lineNumber) + ": " + why;
    }
    return std::nullopt;
  };

  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(from, end - from);
    from = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.empty() || line.front() == '#') {
      continue;
    }
    const auto fields = SplitTabs(line);
    if (fields[0] == "category") {
      Category category;
      if (fields.size() != 3 || !ParseNumber(fields[1], category.id) || fields[2].empty()) {
        return fail("a category needs an id and a name");
      }
      if (catalogue.FindCategory(category.id)) {
        return fail("category " + std::to_string(category.id) + " given twice");
      }
      category.name = text::FromUtf8(fields[2]);
      catalogue.categories_.push_back(std::move(category));
    } else if (fields[0] == "torrent") {
      Entry entry;
      if (fields.size() != 9 || !ParseNumber(fields[1], entry.id) || !ParseNumber(fields[2], entry.categoryId) ||
          !IsDate(fields[3]) || !ParseNumber(fields[4], entry.sizeBytes) || !ParseNumber(fields[5], entry.seeders) ||
          !ParseNumber(fields[6], entry.leechers) || !IsPlainFileName(fields[7]) || fields[8].empty()) {
        return fail("a torrent needs id, category, date, size, seeders, leechers, file name and name");
      }
      if (entry.sizeBytes == 0) {
        return fail("a torrent cannot be empty");
      }
      if (!catalogue.FindCategory(entry.categoryId)) {
        return fail("unknown category " + std::to_string(entry.categoryId));
      }
      if (!seenIds.insert(entry.id).second) {
        return fail("torrent " + std::to_string(entry.id) + " given twice");
      }
      entry.added = std::string(fields[3]);
      entry.fileName = std::string(fields[7]);
      entry.name = text::FromUtf8(fields[8]);
      entry.words = SplitWords(entry.name);
      catalogue.entries_.push_back(std::move(entry));
    } else {
      return fail("unknown record \"" + std::string(fields[0]) + "\"");
    }
  }
  // Listings go by id, whatever order the file is in.
  std::sort(catalogue.entries_.begin(), catalogue.entries_.end(),
            [](const Entry& a, const Entry& b) { return a.id < b.id; });
  return catalogue;
}

std::optional<Catalogue> Catalogue::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) {
      *error = "cannot open " + path;
    }
    return std::nullopt;
  }
  std::ostringstream contents;
  contents << in.rdbuf();
  auto catalogue = Parse(contents.str(), error);
  if (!catalogue && error) {
    *error = path + ": " + *error;
  }
  return catalogue;
}

const Category* Catalogue::FindCategory(int id) const {
  for (const Category& c : categories_) {
    if (c.id == id) {
      return &c;
    }
  }
  return nullptr;
}

const Entry* Catalogue::FindEntry(int id) const {
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                                   [](const Entry& e, int value) { return e.id < value; });
  return it != entries_.end() && it->id == id ? &*it : nullptr;
}

size_t Catalogue::CountInCategory(int categoryId) const {
  return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                           [&](const Entry& e) { return e.categoryId == categoryId; }));
}

std::vector<const Entry*> Catalogue::Search(std::u16string_view query) const {
  std::vector<std::u16string> queryWords = SplitWords(query);
  std::sort(queryWords.begin(), queryWords.end());
  queryWords.erase(std::unique(queryWords.begin(), queryWords.end()), queryWords.end());
  std::vector<const Entry*> found;
  if (queryWords.empty()) {
    return found;
  }
  for (const Entry& e : entries_) {
    if (WordsMatch(e.words, queryWords)) {
      found.push_back(&e);
    }
  }
  return found;
}

std::vector<const Entry*> Catalogue::InCategory(int categoryId) const {
  std::vector<const Entry*> found;
  for (const Entry& e : entries_) {
    if (e.categoryId == categoryId) {
      found.push_back(&e);
    }
  }
  return found;
}

}  // namespace quillmere::demosite
