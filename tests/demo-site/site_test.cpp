// The stand-in site: its catalogue, its pages served over loopback with the
// markers and link forms that the program cuts out, and its .torrent files.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <map>
#include <regex>

#include "Pages.h"
#include "Server.h"
#include "SiteServer.h"
#include "Torrent.h"
#include "results/ResultsPage.h"
#include "text/CodePage.h"

namespace {

using namespace quillmere::demosite;
using namespace quillmere::text;
using Strings = std::vector<std::string>;

constexpr auto npos = std::string::npos;
constexpr size_t kRows = 25;  // a page of results
const std::string kHtml = "text/html; charset=windows-1252";

const Catalogue kShipped = Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr).value();

// The site on loopback, shared by every test of the run.
const std::string kAnnounce = "http://tracker.test/announce";
quillmere::endurance::SiteServer& Site() {
  static quillmere::endurance::SiteServer site(0, [](httplib::Server& s) { MountSite(s, kShipped, kAnnounce); });
  return site;
}

// GET of a target such as "/search.asp?query=x" sent as written, "+" for a
// space as a browser sends it. No answer gives status -1 and no body.
httplib::Response Get(const std::string& target) {
  httplib::Client client("127.0.0.1", Site().port());
  client.set_url_encode(false);
  const auto result = client.Get(target.c_str());
  return result ? *result : httplib::Response();
}

// Every capture group 1 of `pattern` in `body`, in order.
Strings AllMatches(const std::string& body, const std::string& pattern, Strings found = {}) {
  const std::regex re(pattern);
  for (std::sregex_iterator it(body.begin(), body.end(), re), end; it != end; ++it) found.push_back((*it)[1]);
  return found;
}

Strings Ids(const std::vector<const Entry*>& entries, Strings ids = {}) {
  for (const Entry* e : entries) ids.push_back(std::to_string(e->id));
  return ids;
}

// The ids of the torrents that a page lists, by their details links.
Strings IdsOnPage(const std::string& body) { return AllMatches(body, R"(mode=torrentdetails&amp;id=(\d+)&amp;)"); }

// From the first `marker` to the next `end`; empty when there is no marker.
std::string Cut(const std::string& body, const std::string& marker, const std::string& end = "</td>") {
  const size_t start = body.find(marker);
  return start == npos ? "" : body.substr(start, body.find(end, start) - start);
}

TEST(Catalogue, ReadsCommentsCrlfAndUtf8SearchesWordBeginningsAndRefusesMalformedLines) {
  // A shipped name that the page encoding cannot hold would show as "?".
  for (const Entry& e : kShipped.Entries()) EXPECT_EQ(FromCodePage(ToCodePage(e.name)), e.name) << e.id;
  const std::string file = "category\t1\tLinux\ncategory\t2\tBooks\n# comment\r\n"
      "torrent\t3\t1\t2024-01-01\t100\t1\t1\tc.iso\tDebian 12.5.0 amd64 netinst\r\n"
      "torrent\t1\t1\t2024-01-01\t100\t1\t1\ta.iso\tFreeBSD 14.1 amd64 disc1\n"
      "torrent\t2\t2\t2024-01-01\t100\t1\t1\tb.epub\tVictor Hugo \xE2\x80\x93 Les Mis\xC3\xA9rables [EPUB]\n"
      "torrent\t4\t2\t2024-01-01\t100\t1\t1\td.epub\tKochbuch \xE2\x80\x93 Rezepte unter 5 \xE2\x82\xAC\n";
  const Catalogue c = Catalogue::Parse(file, nullptr).value();
  EXPECT_EQ(c.FindEntry(3)->name, u"Debian 12.5.0 amd64 netinst") << "no carriage return";
  // Results come in id order, whatever the order of the file.
  const std::vector<std::pair<std::u16string, Strings>> searches = {
      {u"amd64", {"1", "3"}}, {u"AMD64 FreeBSD", {"1"}}, {u"deb", {"3"}}, {u"ebian", {}}, {u"amd64 hugo", {}},
      {u"MIS\u00C9RABLES", {"2"}}, {u"12.5", {"3"}}, {u"5", {"3", "4"}}, {u"\u20AC", {"4"}}, {u" \u2013 ", {}}};
  for (const auto& [query, ids] : searches) EXPECT_EQ(Ids(c.Search(query)), ids) << ToUtf8(query);
  // The error names the malformed line. Fields are written with spaces here.
  for (std::string error; const char* line : {"torrent 7 1 2024-01-01 1 1 1 f", "torrent 7 9 2024-01-01 1 1 1 f N",
           "torrent 7 1 2024-1-01 1 1 1 f N", "torrent 7 1 2024-01-01 1 -1 1 f N", "torrent 7 1 2024-01-01 0 1 1 f N",
           "torrent 7 1 2024-01-01 1 1 1 f\" N", "torrent 7 1 2024-01-01 1 1 1 a/b N", "category 2 Again",
           "torrent 4 2 2024-01-01 1 1 1 b B", "film 1 Name"})
    EXPECT_TRUE(!Catalogue::Parse(file + std::regex_replace(line, std::regex(" "), "\t"), &(error = "")) &&
                error.find("line 8") != npos) << line << ": " << error;
}

// The main window keeps the site's "&amp;", so the builder turns its details
// links into "download.asp?amp;id=N"; the site must serve those as well.
TEST(SearchPage, CarriesTheMarkersAndLinkFormsAndTheBuilderMakesThemAbsolute) {
  const auto res = Get("/SEARCH.ASP?query=CC&mode=search&page=2");  // letter case does not matter
  EXPECT_EQ(res.get_header_value("Server"), "quillmere-demo-site") << "scripts recognise the site by it";
  const std::string table = Cut(res.body, "Torrent Name", "</table>");
  EXPECT_EQ(table.find("<table"), npos) << "no table inside the results table";
  for (const char* form : {"(<tr)", R"rx(href="directory\.asp\?mode=sub&amp;cat=(\d+)")rx",
                           R"rx(href="search\.asp\?mode=torrentdetails&amp;id=(\d+)&amp;[^"]+")rx",
                           R"rx(href="download\.asp\?id=(\d+)&amp;[^"]+"><img src="images/downloadlock\.gif")rx"})
    EXPECT_EQ(AllMatches(table, form).size(), kRows) << form;
  using namespace quillmere::results;
  const std::string base = "http://127.0.0.1:" + std::to_string(Site().port()) + "/";
  for (auto variant : {Variant::ResultsWindow, Variant::MainWindow}) {
    const auto page = BuildResultsPage(FromCodePage(res.body), std::u16string(base.begin(), base.end()), variant);
    const std::string rows = ToCodePage(page.resultsRows), nav = ToCodePage(page.pagesRow);
    // Details links become downloads, so each row has two download links.
    EXPECT_EQ(AllMatches(rows, "(href=\"" + base + R"(download\.asp\?))").size(), 2 * kRows);
    EXPECT_NE(nav.find("href=\"" + base + "search.asp?query=CC&amp;mode=search&amp;page=1\""), npos);
    EXPECT_EQ(AllMatches(rows + nav, R"rx(((?:href|src)="[^h]))rx"), Strings()) << "relative links";
    for (const std::string& link : AllMatches(rows + nav, "(?:href|src)=\"" + base + R"rx(([^"]*)")rx"))
      EXPECT_EQ(Get("/" + std::regex_replace(link, std::regex("&amp;"), "&")).status, 200) << link;
  }
}

TEST(Pagination, PageKHoldsItsSliceAndTheLastPageLinksBack) {
  std::vector<std::pair<std::string, Strings>> listings;
  // The page links carry the query as received: "&" and "=" escaped, and
  // other bytes as they came, in windows-1252 or UTF-8 alike.
  for (const auto& [query, words] : std::map<std::string, std::u16string>{
           {"linux", u"linux"}, {"cc", u"cc"}, {"cc+%26+%3D+%96", u"cc"}, {"Kevin+MacLeod", u"kevin macleod"},
           {"mis%E9rables", u"mis\u00E9rables"}, {"mis%C3%A9rables", u"mis\u00E9rables"}, {"cc+%E2%80%93", u"cc"}})
    listings.emplace_back("/search.asp?query=" + query + "&mode=search", Ids(kShipped.Search(words)));
  // The directory's own table links to every category.
  const std::string directory = Cut(Get("/directory.asp").body, "Torrent Name", "</table>");
  for (const Category& cat : kShipped.Categories()) {
    const std::string id = std::to_string(cat.id);
    EXPECT_NE(directory.find("directory.asp?mode=sub&amp;cat=" + id + "\""), npos) << id;
    listings.emplace_back("/directory.asp?mode=sub&cat=" + id, Ids(kShipped.InCategory(cat.id)));
  }
  for (const auto& [target, expected] : listings) {
    SCOPED_TRACE(target);
    ASSERT_FALSE(expected.empty());
    const int pages = static_cast<int>((expected.size() + kRows - 1) / kRows);
    auto page = [&](int k) { return Get(target + "&page=" + std::to_string(k)).body; };
    // The links to other pages repeat the address with "&amp;" and a new page.
    const std::string prefix = std::regex_replace(target.substr(1), std::regex("&"), "&amp;") + "&amp;page=";
    for (int k = 1; k <= pages; ++k) {
      const std::string body = page(k), cell = Cut(body, "Pages (");
      const auto first = expected.begin() + (k - 1) * kRows;
      EXPECT_EQ(IdsOnPage(body), Strings(first, first + std::min<ptrdiff_t>(kRows, expected.end() - first))) << k;
      // The count of pages; "Previous", every other page and "Next" in order.
      EXPECT_EQ(cell.rfind("Pages (" + std::to_string(pages) + ")", 0), 0u) << cell;
      Strings links;
      auto link = [&](int to, std::string label) { links.push_back(prefix + std::to_string(to) + "\">" + label); };
      if (k > 1) link(k - 1, "&laquo; Previous");
      for (int other = 1; other <= pages; ++other) if (other != k) link(other, std::to_string(other));
      if (k < pages) link(k + 1, "Next &raquo;");
      EXPECT_EQ(AllMatches(cell, R"rx(href="([^"]*page=[^<]*)<)rx"), links) << "page " << k;
    }
    EXPECT_EQ(IdsOnPage(page(pages + 7)), IdsOnPage(page(pages))) << "past the end is the last page";
  }
  // A page parameter that is no plain number in range gives the first page.
  for (const char* odd : {"0", "x", "2abc", " 2", "+2", "99999999999999", ""}) EXPECT_EQ(ClampPage(odd, 3), 1) << odd;
}

// Bad queries get a page and wrong addresses an error page, none echoing
// anything raw; an address too long to read does not stop the site.
TEST(Answers, BadQueriesAndWrongAddressesGetAPageThatEchoesNothingRaw) {
  std::vector<std::tuple<std::string, int, std::string, std::string>> cases = {
      {"/search.asp?query=" + std::string(20000, 'a'), 414, kHtml, "</html>"},
      {"/images/downloadlock.gif", 200, "image/gif", std::string("GIF89a\x10\0\x10\0", 10)},  // 16 by 16
      {"/directory.asp?mode=sub&cat=99", 404, kHtml, "directory.asp?mode=sub&amp;cat=1\""},  // the categories
      {"/search.asp?query=xyzzy+plugh", 200, kHtml, "nothing in the index matches \x93xyzzy plugh\x94"}};
  const Strings bad = {"", "+++", "%zz%4", "linux%00", "%25linux", "m%FCde+%80+%96", "m%C3%BCde", "%C3%28%E2%82",
                       "%", std::string(7000, 'a'), std::regex_replace(std::string(1500, 'x'), std::regex("x"), "li+"),
                       "linux%22%3E%3Cb", "linux+%26+x%3D1", "%3Cscript%3Ealert(1)%3C/script%3E", "%E4%B8%AD%E6%96%87"};
  for (const auto& q : bad) cases.emplace_back("/search.asp?query=" + q + "&mode=search", 200, kHtml, "</html>");
  for (const char* target : {"/nothing", "/directory.asp?mode=sub&cat=0", "/search.asp?mode=torrentdetails&id=424242",
                             "/search.asp/x", "/%3Cscript%3E", "/a%00b", "/download.asp?id=0", "/download.asp?id=",
                             "/directory.asp?mode=sub&cat=x", "/download.asp?id=99999999999", "/download.asp?id=1e3"})
    cases.emplace_back(target, 404, kHtml, "</html>");
  for (const auto& [target, status, type, content] : cases) {
    SCOPED_TRACE(target.substr(0, 60));
    const auto res = Get(target);
    EXPECT_EQ(std::pair(res.status, res.get_header_value("Content-Type")), std::pair(status, type));
    EXPECT_NE(res.body.find(content), npos);
    if (type != kHtml) continue;
    // Whatever came in, the page and its links carry it back escaped.
    EXPECT_EQ(AllMatches(res.body, R"rx((<script|"><b|\x00|href="[^"]*[<> ][^"]*"))rx"), Strings());
    EXPECT_EQ(res.body.find("Torrent Name") == npos, IdsOnPage(res.body).empty()) << "the marker means results";
  }
  EXPECT_EQ(IdsOnPage(Get("/search.asp?mode=torrentdetails&id=7").body), Strings{"7"}) << "details: one row";
  EXPECT_EQ(HtmlEscape(u"a<b>&\"'\x01\u0085\u00E9"), u"a&lt;b&gt;&amp;&quot;&#39;\u00E9");
  EXPECT_EQ(DecodeQueryBytes("\xE0\x80\xAF"), u"\u00E0\u20AC\u00AF") << "an overlong form is not UTF-8";
}

// A bencoded integer, string or dictionary (.torrent files hold no lists).
struct BValue { char kind; int64_t integer = 0; std::string string{}; std::map<std::string, BValue> dict{}; };

// Reads one value off the front of `in`, loosely: the test re-encodes it.
BValue Read(std::string_view& in) {
  BValue v{in.at(0) >= '0' && in[0] <= '9' ? 's' : in[0]};
  if (v.kind != 's') in.remove_prefix(1);
  for (std::string key; v.kind == 'd' && in.at(0) != 'e';) key = Read(in).string, v.dict.emplace(key, Read(in));
  if (v.kind == 'd') return in.remove_prefix(1), v;
  const size_t stop = in.find(v.kind == 's' ? ':' : 'e');  // ends an integer, or the length of a string
  v.integer = std::stoll(std::string(in.substr(0, stop)));
  in = in.substr(stop).substr(1);  // throws when there is no end
  v.string = in.substr(0, v.kind == 's' ? static_cast<size_t>(v.integer) : 0);
  in.remove_prefix(v.string.size());
  return v;
}

// The one canonical encoding of `v`: keys in order, numbers without signs or
// leading zeros.
std::string Encode(const BValue& v) {
  if (v.kind == 's') return std::to_string(v.string.size()) + ":" + v.string;
  std::string out = v.kind == 'i' ? "i" + std::to_string(v.integer) : "d";
  for (const auto& [key, value] : v.dict) out += Encode({'s', 0, key}) + Encode(value);
  return out + "e";
}

std::string Hex(std::string_view bytes, std::string hex = "") {
  for (unsigned char c : bytes) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return hex;
}

// The first and last entries, the largest payload and a name with non-ASCII.
TEST(Torrent, ADownloadIsCanonicalBencodingWithARealInfoDictionary) {
  // The info hash below relies on it.
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  for (const auto& entries = kShipped.Entries(); const Entry* entry : {&entries.front(), &entries.back(),
           kShipped.Search(u"mis\u00E9rables").at(0), &*std::ranges::max_element(entries, {}, &Entry::sizeBytes)}) {
    SCOPED_TRACE(entry->id);
    const auto res = Get("/download.asp?id=" + std::to_string(entry->id) + "&file=x.torrent");
    EXPECT_EQ(res.get_header_value("Content-Type") + "; " + res.get_header_value("Content-Disposition"),
              "application/x-bittorrent; attachment; filename=\"" + entry->fileName + ".torrent\"");
    // Anything the reader lets through, such as keys out of order, a string
    // cut short or bytes after the end, comes back different.
    std::string_view rest = res.body;
    const BValue torrent = Read(rest);
    ASSERT_EQ(Encode(torrent), res.body);
    const auto& info = torrent.dict.at("info").dict;
    EXPECT_EQ(std::tuple(torrent.dict.at("announce").string, info.at("name").string, info.at("length").integer),
              std::tuple(kAnnounce, entry->fileName, static_cast<int64_t>(entry->sizeBytes)));
    const int64_t piece = info.at("piece length").integer, pieces = (info.at("length").integer + piece - 1) / piece;
    const std::string& hashes = info.at("pieces").string;
    EXPECT_TRUE(piece >= 16 * 1024 && (piece & (piece - 1)) == 0 && pieces <= 1500) << "a power of two: " << piece;
    // One hash of 20 bytes for each piece, and not the same hash for all.
    EXPECT_TRUE(std::ssize(hashes) == pieces * 20 && (pieces == 1 || hashes.substr(0, 20) != hashes.substr(20, 20)));
    // The info hash as a client computes it, from the info dictionary's bytes.
    EXPECT_EQ(Hex(Sha1(Encode(torrent.dict.at("info")))), MakeTorrent(*entry, "elsewhere").infoHashHex);
  }
  // Pieces stay a size that clients accept, however large the payload.
  EXPECT_EQ(PieceLengthFor(1ULL << 40), 64 * 1024 * 1024);
}

}  // namespace
