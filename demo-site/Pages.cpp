#include "Pages.h"

#include <algorithm>
#include <cstdio>

#include "Torrent.h"
#include "text/CodePage.h"

namespace quillmere::demosite {

namespace {

constexpr std::u16string_view kSiteName = u"Stand-in Index";
// Longest query text that a heading repeats; the search box keeps all of it.
constexpr size_t kShownQueryLength = 80;

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::u16string Number(long long n) { return Ascii(std::to_string(n)); }

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) {
      return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) {
        return false;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

bool ParsePositive(std::string_view s, int& out) {
  if (s.empty() || s.size() > 9) {
    return false;
  }
  int value = 0;
  for (char c : s) {
    if (c < '0' || c > '9') {
      return false;
    }
    value = value * 10 + (c - '0');
  }
  if (value < 1) {
    return false;
  }
  out = value;
  return true;
}

std::u16string ShownQuery(std::u16string_view query) {
  if (query.size() <= kShownQueryLength) {
    return HtmlEscape(query);
  }
  return HtmlEscape(query.substr(0, kShownQueryLength)) + u"\u2026";
}

std::string Finish(const std::u16string& html) { return text::ToCodePage(html); }

// The site's chrome: everything before the content. The search box shows
// `boxQuery`.
std::u16string Head(std::u16string_view title, std::u16string_view boxQuery) {
  std::u16string out;
  out += u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n<html><head><title>";
  out += kSiteName;
  out += u" \u2013 ";
  out += title;
  out +=
      u"</title>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\n"
      u"<style type=\"text/css\">\n"
      u"body { font-family: Verdana, Arial, sans-serif; font-size: 9pt; margin: 0; background: #f4f2ee; }\n"
      u"#header { background: #34495e; color: #ffffff; padding: 8px 12px; }\n"
      u"#header a { color: #ffffff; text-decoration: none; font-size: 14pt; }\n"
      u"#menu { background: #d9d4cc; padding: 4px 12px; }\n"
      u"#content { padding: 8px 12px; }\n"
      u"#footer { border-top: 1px solid #b0a99f; color: #555555; padding: 6px 12px; margin-top: 12px; }\n"
      u"table.results { border-collapse: collapse; width: 100%; background: #ffffff; }\n"
      u"table.results td { border-bottom: 1px solid #e2ded8; padding: 2px 4px; }\n"
      u"tr.head td { background: #eae7e3; font-weight: bold; }\n"
      u"td.num { text-align: right; }\n"
      u"</style>\n</head>\n<body>\n<div id=\"header\"><a href=\"index.asp\">";
  out += kSiteName;
  out +=
      u"</a> &nbsp; freely shared software images, films, music and books\n"
      u"<form action=\"search.asp\" method=\"get\" style=\"margin: 6px 0 0 0\">"
      u"<input type=\"text\" name=\"query\" size=\"40\" value=\"";
  out += HtmlEscape(boxQuery);
  out +=
      u"\"><input type=\"hidden\" name=\"mode\" value=\"search\"> <input type=\"submit\" value=\"Search\"></form>"
      u"</div>\n<div id=\"menu\"><a href=\"index.asp\">Home</a> | <a href=\"directory.asp\">Directory</a>"
      u" | <a href=\"search.asp?query=debian&amp;mode=search\">Debian</a>"
      u" | <a href=\"search.asp?query=bsd&amp;mode=search\">BSD</a>"
      u" | <a href=\"search.asp?query=blender&amp;mode=search\">Blender films</a>"
      u" | <a href=\"search.asp?query=librivox&amp;mode=search\">Audiobooks</a></div>\n"
      u"<div id=\"content\">\n";
  return out;
}

std::u16string Foot() {
  return u"</div>\n<div id=\"footer\">Everything listed here may be shared freely: free software, public-domain "
         u"works and works under Creative Commons licences. This site is a stand-in for development and "
         u"demonstrations; it tracks no peers.</div>\n</body></html>\n";
}

std::u16string Health(int seeders) {
  if (seeders >= 20) {
    return u"good";
  }
  return seeders >= 5 ? u"fair" : u"low";
}

// One result row. `categoryLabel` is what the category link says.
void AppendRow(std::u16string& out, const Entry& e, std::u16string_view categoryLabel, bool odd) {
  out += odd ? u"<tr class=\"odd\">" : u"<tr class=\"even\">";
  out += u"<td><a href=\"directory.asp?mode=sub&amp;cat=";
  out += Number(e.categoryId);
  out += u"\">";
  out += HtmlEscape(categoryLabel);
  out += u"</a></td><td><a href=\"search.asp?mode=torrentdetails&amp;id=";
  out += Number(e.id);
  out += u"&amp;file=";
  out += Ascii(UrlEscape(e.fileName));
  out += u"\">";
  out += HtmlEscape(e.name);
  out += u"</a></td><td>";
  out += Ascii(e.added);
  out += u"</td><td class=\"num\">";
  out += Ascii(FormatSize(e.sizeBytes));
  out += u"</td><td class=\"num\">";
  out += Number(e.seeders);
  out += u"</td><td class=\"num\">";
  out += Number(e.leechers);
  out += u"</td><td>";
  out += Health(e.seeders);
  out += u"</td><td><a href=\"download.asp?id=";
  out += Number(e.id);
  out += u"&amp;file=";
  out += Ascii(UrlEscape(e.fileName + ".torrent"));
  out += u"\"><img src=\"images/downloadlock.gif\" width=\"16\" height=\"16\" border=\"0\" alt=\"Download\"></a>"
         u"</td></tr>\n";
}

// The results table. Its header cell holds "Torrent Name", and nothing inside
// it is a table of its own: a client cuts it out up to the first "</table>".
template <typename LabelOf>
void AppendResultsTable(std::u16string& out, const std::vector<const Entry*>& rows, LabelOf labelOf) {
  out +=
      u"<table class=\"results\" cellspacing=\"0\">\n<tr class=\"head\"><td colspan=\"2\">Torrent Name</td>"
      u"<td>Added</td><td class=\"num\">Size</td><td class=\"num\">Seeds</td><td class=\"num\">Leechers</td>"
      u"<td>Health</td><td>DL</td></tr>\n";
  bool odd = true;
  for (const Entry* e : rows) {
    AppendRow(out, *e, labelOf(*e), odd);
    odd = !odd;
  }
  out += u"</table>\n";
}

// The navigation cell after the results table. `linkTo(k)` is the address of
// page k, already HTML-escaped.
template <typename LinkTo>
void AppendPagesCell(std::u16string& out, int page, int pageCount, LinkTo linkTo) {
  out += u"<table class=\"pages\" width=\"100%\"><tr><td>Pages (";
  out += Number(pageCount);
  out += u"): ";
  auto link = [&](int k, std::u16string_view label) {
    out += u"<a href=\"";
    out += linkTo(k);
    out += u"\">";
    out += label;
    out += u"</a> ";
  };
  if (page > 1) {
    link(page - 1, u"&laquo; Previous");
  }
  for (int k = 1; k <= pageCount; ++k) {
    if (k == page) {
      out += u"<b>" + Number(k) + u"</b> ";
    } else {
      link(k, Number(k));
    }
  }
  if (page < pageCount) {
    link(page + 1, u"Next &raquo;");
  }
  out += u"| <a href=\"directory.asp?mode=directory\">Browse the directory</a></td></tr></table>\n";
}

int PageCountFor(size_t rows) {
  return static_cast<int>((rows + kRowsPerPage - 1) / kRowsPerPage);
}

std::vector<const Entry*> PageSlice(const std::vector<const Entry*>& all, int page) {
  const size_t first = std::min(all.size(), static_cast<size_t>(page - 1) * kRowsPerPage);
  const size_t last = std::min(all.size(), first + kRowsPerPage);
  return {all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(last)};
}

std::u16string Summary(size_t total, int page) {
  const size_t first = static_cast<size_t>(page - 1) * kRowsPerPage + 1;
  const size_t last = std::min(total, first + kRowsPerPage - 1);
  std::u16string out = Number(static_cast<long long>(total));
  out += total == 1 ? u" torrent" : u" torrents";
  out += u", showing " + Number(static_cast<long long>(first)) + u"\u2013" + Number(static_cast<long long>(last));
  return out;
}

void AppendCategoryList(std::u16string& out, const Catalogue& catalogue) {
  out += u"<ul class=\"categories\">\n";
  for (const Category& c : catalogue.Categories()) {
    out += u"<li><a href=\"directory.asp?mode=sub&amp;cat=" + Number(c.id) + u"\">" + HtmlEscape(c.name) +
           u"</a> (" + Number(static_cast<long long>(catalogue.CountInCategory(c.id))) + u")</li>\n";
  }
  out += u"</ul>\n";
}

std::u16string CategoryName(const Catalogue& catalogue, int id) {
  const Category* c = catalogue.FindCategory(id);
  return c ? c->name : u"?";
}

}  // namespace

std::u16string DecodeQueryBytes(std::string_view bytes) {
  return IsValidUtf8(bytes) ? text::FromUtf8(bytes) : text::FromCodePage(bytes);
}

std::string UrlEscape(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 0xF]);
    }
  }
  return out;
}

std::u16string HtmlEscape(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&#39;"; break;
      default:
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
          break;
        }
        out.push_back(c);
    }
  }
  return out;
}

std::string FormatSize(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  if (bytes < 1024) {
    return std::to_string(bytes) + " B";
  }
  double value = static_cast<double>(bytes);
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f %s", value, kUnits[unit]);
  return buffer;
}

int ClampPage(std::string_view pageParam, int pageCount) {
  int page = 1;
  if (!ParsePositive(pageParam, page)) {
    return 1;
  }
  return std::clamp(page, 1, std::max(1, pageCount));
}

Page SearchPage(const Catalogue& catalogue, std::string_view rawQuery, std::string_view pageParam) {
  const std::u16string query = DecodeQueryBytes(rawQuery);
  const std::vector<const Entry*> found = catalogue.Search(query);
  std::u16string out = Head(u"search: " + ShownQuery(query), query);
  if (found.empty()) {
    if (SplitWords(query).empty()) {
      out += u"<p class=\"message\">Type a word or two into the box above to search the index, or browse the "
             u"<a href=\"directory.asp\">directory</a>.</p>\n";
    } else {
      out += u"<p class=\"message\">Sorry, nothing in the index matches \u201C" + ShownQuery(query) +
             u"\u201D. Check the spelling, or try fewer or shorter words.</p>\n";
    }
    out += Foot();
    return {200, Finish(out)};
  }
  const int pageCount = PageCountFor(found.size());
  const int page = ClampPage(pageParam, pageCount);
  out += u"<p class=\"summary\">Search for \u201C" + ShownQuery(query) + u"\u201D: " + Summary(found.size(), page) +
         u".</p>\n";
  AppendResultsTable(out, PageSlice(found, page), [&](const Entry& e) { return CategoryName(catalogue, e.categoryId); });
  const std::u16string escapedQuery = Ascii(UrlEscape(rawQuery));
  AppendPagesCell(out, page, pageCount, [&](int k) {
    return u"search.asp?query=" + escapedQuery + u"&amp;mode=search&amp;page=" + Number(k);
  });
  out += Foot();
  return {200, Finish(out)};
}

Page DirectoryPage(const Catalogue& catalogue) {
  std::u16string out = Head(u"directory", u"");
  out += u"<p class=\"summary\">The directory: " + Number(static_cast<long long>(catalogue.Entries().size())) +
         u" torrents in " + Number(static_cast<long long>(catalogue.Categories().size())) + u" categories.</p>\n";
  AppendCategoryList(out, catalogue);
  // The newest torrent of each category, in the shape of a search, so that a
  // client that only reads the results table still gets every category link.
  std::vector<const Entry*> newest;
  for (const Category& c : catalogue.Categories()) {
    const Entry* best = nullptr;
    for (const Entry* e : catalogue.InCategory(c.id)) {
      if (!best || e->added > best->added || (e->added == best->added && e->id > best->id)) {
        best = e;
      }
    }
    if (best) {
      newest.push_back(best);
    }
  }
  out += u"<p>Newest in each category:</p>\n";
  AppendResultsTable(out, newest, [&](const Entry& e) {
    return CategoryName(catalogue, e.categoryId) + u" (" +
           Number(static_cast<long long>(catalogue.CountInCategory(e.categoryId))) + u")";
  });
  out += Foot();
  return {200, Finish(out)};
}

Page CategoryPage(const Catalogue& catalogue, std::string_view categoryParam, std::string_view pageParam) {
  int id = 0;
  const Category* category = ParsePositive(categoryParam, id) ? catalogue.FindCategory(id) : nullptr;
  if (!category) {
    std::u16string out = Head(u"directory", u"");
    out += u"<p class=\"message\">There is no such category. These are the categories of the index:</p>\n";
    AppendCategoryList(out, catalogue);
    out += Foot();
    return {404, Finish(out)};
  }
  const std::vector<const Entry*> entries = catalogue.InCategory(category->id);
  std::u16string out = Head(HtmlEscape(category->name), u"");
  if (entries.empty()) {
    out += u"<p class=\"message\">The category " + HtmlEscape(category->name) + u" is empty for now.</p>\n";
    out += Foot();
    return {200, Finish(out)};
  }
  const int pageCount = PageCountFor(entries.size());
  const int page = ClampPage(pageParam, pageCount);
  out += u"<p class=\"summary\">" + HtmlEscape(category->name) + u": " + Summary(entries.size(), page) + u".</p>\n";
  AppendResultsTable(out, PageSlice(entries, page), [&](const Entry&) { return category->name; });
  AppendPagesCell(out, page, pageCount, [&](int k) {
    return u"directory.asp?mode=sub&amp;cat=" + Number(category->id) + u"&amp;page=" + Number(k);
  });
  out += Foot();
  return {200, Finish(out)};
}

Page DetailsPage(const Catalogue& catalogue, std::string_view idParam) {
  int id = 0;
  const Entry* e = ParsePositive(idParam, id) ? catalogue.FindEntry(id) : nullptr;
  if (!e) {
    std::u16string out = Head(u"details", u"");
    out += u"<p class=\"message\">There is no torrent with that number in the index.</p>\n";
    out += Foot();
    return {404, Finish(out)};
  }
  std::u16string out = Head(HtmlEscape(e->name), u"");
  AppendResultsTable(out, {e}, [&](const Entry& entry) { return CategoryName(catalogue, entry.categoryId); });
  const TorrentFile torrent = MakeTorrent(*e, "");
  out += u"<dl class=\"details\">\n<dt>File</dt><dd>" + HtmlEscape(Ascii(e->fileName)) + u"</dd>\n";
  out += u"<dt>Size</dt><dd>" + Number(static_cast<long long>(e->sizeBytes)) + u" bytes</dd>\n";
  out += u"<dt>Pieces</dt><dd>" + Number(torrent.pieceCount) + u" of " + Ascii(FormatSize(
      static_cast<uint64_t>(torrent.pieceLength))) + u"</dd>\n";
  out += u"<dt>Info hash</dt><dd><code>" + Ascii(torrent.infoHashHex) + u"</code></dd>\n</dl>\n";
  out += Foot();
  return {200, Finish(out)};
}

Page HomePage(const Catalogue& catalogue) {
  std::u16string out = Head(u"home", u"");
  out += u"<p>Search " + Number(static_cast<long long>(catalogue.Entries().size())) +
         u" freely shared torrents with the box above, or browse a category:</p>\n";
  AppendCategoryList(out, catalogue);
  out += Foot();
  return {200, Finish(out)};
}

Page NotFoundPage(std::string_view path) {
  std::u16string out =
      u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n<html><head><title>Not found</title>"
      u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\"></head>\n<body><h1>Not "
      u"found</h1><p>";
  out += HtmlEscape(DecodeQueryBytes(path.substr(0, 200)));
  out += u" is not on this site. Try the <a href=\"/index.asp\">home page</a>.</p></body></html>\n";
  return {404, Finish(out)};
}

}  // namespace quillmere::demosite
