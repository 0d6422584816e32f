// The stand-in site as a client relies on it: its pages served over loopback
// with the markers, link forms and pagination that the program cuts out, and
// canonical .torrent files.
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
           {"linux", u"linux"}, {"cc+%26+%3D+%96", u"cc"}, {"mis%E9rables", u"mis\u00E9rables"},
           {"mis%C3%A9rables", u"mis\u00E9rables"}})
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
}

}  // namespace
