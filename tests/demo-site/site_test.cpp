// The stand-in site: its catalogue, its pages served over loopback with the
// markers and link forms that the program cuts out, and its .torrent files.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "Pages.h"
#include "Server.h"
#include "Torrent.h"
#include "results/ResultsPage.h"
#include "text/CodePage.h"

namespace {

using namespace quillmere::demosite;
using quillmere::text::FromCodePage;
using quillmere::text::ToCodePage;
using Strings = std::vector<std::string>;

constexpr auto npos = std::string::npos;
constexpr size_t kRows = kRowsPerPage;
const std::string kHtml(kHtmlContentType);

const Catalogue& Shipped() {
  static const Catalogue catalogue = Catalogue::Load(QUILLMERE_DEMO_SITE_CATALOGUE, nullptr).value();
  return catalogue;
}

// The site on 127.0.0.1, shared by every test of the run.
struct LoopbackSite {
  httplib::Server server;
  int port = server.bind_to_any_port("127.0.0.1");
  std::string baseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
  std::thread thread{[this] {
    MountSite(server, Shipped(), baseUrl + "announce");
    server.listen_after_bind();
  }};
  // Stopping a server that has not started listening would leave the thread
  // running, so construction ends only once it listens.
  LoopbackSite() { while (port > 0 && !server.is_running()) std::this_thread::yield(); }
  ~LoopbackSite() {
    server.stop();
    thread.join();
  }
};

LoopbackSite& Site() { static LoopbackSite site; return site; }

// GET of a target such as "/search.asp?query=x". No answer fails the test and
// gives an empty response with status -1.
httplib::Response Get(const std::string& target) {
  auto result = httplib::Client("127.0.0.1", Site().port).Get(target.c_str());
  if (result) return *result;
  ADD_FAILURE() << "no answer for " << target.substr(0, 200);
  return {};
}

// Every capture group 1 of `pattern` in `body`, in order.
Strings AllMatches(const std::string& body, const std::string& pattern) {
  Strings found;
  const std::regex re(pattern);
  for (std::sregex_iterator it(body.begin(), body.end(), re), end; it != end; ++it) found.push_back((*it)[1]);
  return found;
}

Strings Ids(const std::vector<const Entry*>& entries) {
  Strings ids;
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

TEST(Catalogue, TheShippedOneHoldsAboutThreeHundredEntriesThatTheCodePageCarries) {
  EXPECT_TRUE(Shipped().Entries().size() >= 250 && Shipped().Entries().size() <= 400);
  std::u16string names;
  for (const Entry& e : Shipped().Entries()) names += e.name;
  // A character that the page encoding cannot hold would come back as "?".
  EXPECT_EQ(FromCodePage(ToCodePage(names)), names);
  for (char16_t ch : std::u16string_view(u"\u00E9\u00FC\u2013\u20AC")) EXPECT_NE(names.find(ch), npos) << int{ch};
}

TEST(Catalogue, ReadsCommentsCrlfAndUtf8AndSearchesWordBeginningsIgnoringCase) {
  const std::string file =
      "category\t1\tLinux\ncategory\t2\tBooks\n# comment\r\n"
      "torrent\t3\t1\t2024-01-01\t100\t1\t1\tc.iso\tDebian 12.5.0 amd64 netinst\r\n"
      "torrent\t1\t1\t2024-01-01\t100\t1\t1\ta.iso\tFreeBSD 14.1 amd64 disc1\n"
      "torrent\t2\t2\t2024-01-01\t100\t1\t1\tb.epub\tVictor Hugo \xE2\x80\x93 Les Mis\xC3\xA9rables [EPUB]\n"
      "torrent\t4\t2\t2024-01-01\t100\t1\t1\td.epub\tKochbuch \xE2\x80\x93 Rezepte unter 5 \xE2\x82\xAC\n";
  const auto c = Catalogue::Parse(file, nullptr);
  ASSERT_TRUE(c);
  EXPECT_EQ(Ids(c->InCategory(1)), Strings({"1", "3"})) << "in id order, whatever the file order";
  EXPECT_EQ(c->FindEntry(3)->name, u"Debian 12.5.0 amd64 netinst") << "no carriage return";
  EXPECT_EQ(c->FindEntry(5), nullptr);
  const std::vector<std::pair<std::u16string, Strings>> searches = {
      {u"amd64", {"1", "3"}}, {u"AMD64 FreeBSD", {"1"}}, {u"deb", {"3"}}, {u"ebian", {}}, {u"amd64 hugo", {}},
      {u"mis\u00E9rables", {"2"}}, {u"MIS\u00C9RABLES", {"2"}}, {u"miserables", {}}, {u"12.5", {"3"}},
      {u"5", {"3", "4"}}, {u"\u20AC", {"4"}}, {u"hugo hugo", {"2"}}, {u"", {}}, {u"  \u2013 -- ", {}}};
  for (const auto& [query, ids] : searches) EXPECT_EQ(Ids(c->Search(query)), ids) << quillmere::text::ToUtf8(query);
  // A malformed line is refused, and the error names it. Fields are written
  // with spaces here for legibility.
  for (const char* line : {"torrent 7 1 2024-01-01 100 1 1 f.iso", "torrent 7 9 2024-01-01 100 1 1 f.iso N",
                           "torrent 7 1 2024-1-01 100 1 1 f.iso N", "torrent 7 1 2024-01-01 100 -1 1 f.iso N",
                           "torrent 7 1 2024-01-01 0 1 1 f.iso N", "torrent 7 1 2024-01-01 100 1 1 f\".iso N",
                           "torrent 7 1 2024-01-01 100 1 1 a/b.iso N", "torrent 4 2 2024-01-01 100 1 1 b.iso B",
                           "category 2 Again", "film 1 Name"}) {
    std::string error;
    EXPECT_FALSE(Catalogue::Parse(file + std::regex_replace(line, std::regex(" "), "\t"), &error));
    EXPECT_NE(error.find("line 8"), npos) << line << ": " << error;
  }
}

// The main window keeps the site's "&amp;", so the builder turns its details
// links into "download.asp?amp;id=N"; the site must serve those as well.
TEST(SearchPage, CarriesTheMarkersAndLinkFormsAndTheBuilderMakesThemAbsolute) {
  const auto res = Get("/SEARCH.ASP?query=CC&mode=search&page=2");  // letter case does not matter
  EXPECT_EQ(res.get_header_value("Server"), "quillmere-demo-site") << "scripts recognise the site by it";
  const std::string table = Cut(res.body, "Torrent Name", "</table>");
  EXPECT_EQ(table.find("<table"), npos) << "no table inside the results table";
  EXPECT_EQ(AllMatches(table, "(<tr)").size(), kRows) << "result rows after the header row";
  for (const char* form : {R"rx(href="directory\.asp\?mode=sub&amp;cat=(\d+)")rx",
                           R"rx(href="search\.asp\?mode=torrentdetails&amp;id=(\d+)&amp;[^"]+")rx",
                           R"rx(href="download\.asp\?id=(\d+)&amp;[^"]+"><img src="images/downloadlock\.gif")rx",
                           R"rx(<td>(\d{4}-\d\d-\d\d)</td><td class="num">\d+\.\d\d [KMGT]?B</td>)rx"
                           R"rx(<td class="num">\d+</td><td class="num">\d+</td>)rx"}) {
    EXPECT_EQ(AllMatches(table, form).size(), kRows) << form;
  }
  const std::string cell = Cut(res.body, "Pages (");
  EXPECT_EQ(AllMatches(cell, R"((href="directory\.asp\?))").size(), 1u);
  // Menu, table, navigation cell and footer in this order, none missing.
  const size_t marker = res.body.find("Torrent Name");
  const std::vector<size_t> order = {res.body.find("id=\"menu\""), marker, res.body.find("</table>", marker),
                                     res.body.find("Pages ("), res.body.find("id=\"footer\"")};
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()) && order.back() != npos);

  const std::string& base = Site().baseUrl;
  for (auto variant : {quillmere::results::Variant::ResultsWindow, quillmere::results::Variant::MainWindow}) {
    const auto page = quillmere::results::BuildResultsPage(FromCodePage(res.body),
                                                           std::u16string(base.begin(), base.end()), variant);
    const std::string rows = ToCodePage(page.resultsRows);
    const std::string nav = ToCodePage(page.pagesRow);
    EXPECT_EQ(rows.rfind("Torrent Name", 0), 0u);
    // Details links become downloads, so each row has two download links.
    EXPECT_EQ(AllMatches(rows, "(href=\"" + base + R"(download\.asp\?))").size(), 2 * kRows);
    EXPECT_NE(nav.find("href=\"" + base + "search.asp?query=CC&amp;mode=search&amp;page=1\""), npos);
    EXPECT_NE(nav.find("href=\"" + base + "directory.asp?"), npos);
    EXPECT_EQ(AllMatches(rows + nav, R"rx(((?:href|src)="[^h]))rx"), Strings()) << "relative links";
    const auto links = AllMatches(rows + nav, "(?:href|src)=\"" + base + R"rx(([^"]*)")rx");
    for (const std::string& link : std::set<std::string>(links.begin(), links.end())) {
      const auto served = Get("/" + std::regex_replace(link, std::regex("&amp;"), "&"));
      EXPECT_EQ(served.status, 200) << link;
      EXPECT_EQ(served.get_header_value("Content-Type"), link.starts_with("download.asp") ? "application/x-bittorrent"
                                                         : link.starts_with("images/")    ? "image/gif" : kHtml);
    }
  }
}

TEST(Pagination, PageKHoldsItsSliceAndTheLastPageLinksBack) {
  const Catalogue& c = Shipped();
  std::vector<std::pair<std::string, Strings>> listings = {
      {"/search.asp?query=linux&mode=search", Ids(c.Search(u"linux"))},
      {"/search.asp?query=cc&mode=search", Ids(c.Search(u"cc"))},
      {"/search.asp?query=Kevin+MacLeod&mode=search", Ids(c.Search(u"kevin macleod"))},
      {"/search.asp?query=mis%E9rables&mode=search", Ids(c.Search(u"mis\u00E9rables"))},  // windows-1252
      {"/search.asp?query=mis%C3%A9rables&mode=search", Ids(c.Search(u"mis\u00E9rables"))},  // UTF-8
  };
  // The directory's own table links to every category.
  const std::string directory = Cut(Get("/directory.asp").body, "Torrent Name", "</table>");
  for (const Category& cat : c.Categories()) {
    const std::string id = std::to_string(cat.id);
    EXPECT_NE(directory.find("directory.asp?mode=sub&amp;cat=" + id + "\""), npos) << id;
    listings.emplace_back("/directory.asp?mode=sub&cat=" + id, Ids(c.InCategory(cat.id)));
  }
  for (const auto& [target, expected] : listings) {
    SCOPED_TRACE(target);
    ASSERT_FALSE(expected.empty());
    const int pages = static_cast<int>((expected.size() + kRows - 1) / kRows);
    auto page = [&](int k) { return Get(target + "&page=" + std::to_string(k)).body; };
    // The links to other pages repeat the address with "&amp;" and a new page.
    const std::string prefix = std::regex_replace(target.substr(1), std::regex("&"), "&amp;") + "&amp;page=";
    Strings all;
    for (int k = 1; k <= pages; ++k) {
      const std::string body = page(k);
      const Strings ids = IdsOnPage(body);
      EXPECT_EQ(ids.size(), std::min(kRows, expected.size() - all.size())) << "page " << k;
      all.insert(all.end(), ids.begin(), ids.end());
      // The count of pages; "Previous", every other page and "Next" in order.
      const std::string cell = Cut(body, "Pages (");
      EXPECT_EQ(cell.rfind("Pages (" + std::to_string(pages) + ")", 0), 0u) << cell;
      Strings links;
      auto link = [&](int to, std::string label) { links.push_back(prefix + std::to_string(to) + "\">" + label); };
      if (k > 1) link(k - 1, "&laquo; Previous");
      for (int other = 1; other <= pages; ++other) {
        if (other != k) link(other, std::to_string(other));
      }
      if (k < pages) link(k + 1, "Next &raquo;");
      EXPECT_EQ(AllMatches(cell, R"rx(href="([^"]*page=[^<]*)<)rx"), links) << "page " << k;
    }
    EXPECT_EQ(all, expected);
    EXPECT_EQ(IdsOnPage(page(pages + 7)), IdsOnPage(page(pages))) << "past the end is the last page";
  }
  // A page parameter that is no plain number in range gives the first page.
  for (const char* odd : {"0", "x", "2abc", " 2", "+2", "99999999999999", ""}) EXPECT_EQ(ClampPage(odd, 3), 1) << odd;
  EXPECT_EQ(ClampPage("2", 3), 2);
  EXPECT_EQ(ClampPage("999999999", 3), 3);
}

TEST(BadQueries, GetAPageThatEchoesNothingRaw) {
  for (const std::string& query : Strings{"", "+++", "%", "%zz%4", "linux%00", "%25linux", "linux%22%3E%3Cb",
                                          "%3Cscript%3Ealert(1)%3C/script%3E", "linux+%26+x%3D1", "m%FCde+%80+%96",
                                          "m%C3%BCde", "%C3%28%E2%82", "%E4%B8%AD%E6%96%87", std::string(7000, 'a'),
                                          std::regex_replace(std::string(1500, 'x'), std::regex("x"), "li+")}) {
    SCOPED_TRACE(query.substr(0, 60));
    const auto res = Get("/search.asp?query=" + query + "&mode=search");
    EXPECT_EQ(res.status, 200);
    EXPECT_EQ(res.get_header_value("Content-Type"), kHtml);
    EXPECT_NE(res.body.find("</html>"), npos);
    EXPECT_EQ(res.body.find('\0'), npos);
    for (const char* raw : {"<script", "\"><b"}) EXPECT_EQ(res.body.find(raw), npos) << raw;
    // Whatever came in, the page links carry it back escaped.
    EXPECT_EQ(AllMatches(Cut(res.body, "Pages ("), R"rx(href="([^"]*[<> ][^"]*)")rx"), Strings());
  }
}

TEST(BadQueries, NoMatchSaysSoAndPageLinksCarryTheQueryEscaped) {
  const Page none = SearchPage(Shipped(), "xyzzy plugh", "");
  EXPECT_EQ(none.body.find("Torrent Name"), npos);
  EXPECT_NE(none.body.find("nothing in the index matches \x93xyzzy plugh\x94"), npos);
  // "&" and "=" inside the query must not end it in the links, and following
  // such a link gives the same page as the plain query.
  const std::string cell = Cut(SearchPage(Shipped(), "cc & =", "2").body, "Pages (");
  EXPECT_NE(cell.find("search.asp?query=cc+%26+%3D&amp;mode=search&amp;page=1\""), npos) << cell;
  EXPECT_EQ(IdsOnPage(Get("/search.asp?query=cc+%26+%3D&mode=search&page=1").body),
            IdsOnPage(SearchPage(Shipped(), "cc", "1").body));
  EXPECT_EQ(HtmlEscape(u"a<b>&\"'\x01\u0085\u00E9"), u"a&lt;b&gt;&amp;&quot;&#39;\u00E9");
  EXPECT_EQ(DecodeQueryBytes("caf\xC3\xA9") + DecodeQueryBytes("caf\xE9"), u"caf\u00E9caf\u00E9");
  // Overlong forms are not UTF-8.
  EXPECT_EQ(DecodeQueryBytes("\xC0\xAF") + DecodeQueryBytes("\xE0\x80\xAF"), u"\u00C0\u00AF\u00E0\u20AC\u00AF");
}

// Everything besides the listings. Error pages are small HTML that echo
// nothing raw, and an address too long to read does not stop the site.
TEST(OtherAnswers, HaveTheirStatusTypeAndContent) {
  std::vector<std::tuple<std::string, int, std::string, std::string>> cases = {
      {"/search.asp?query=" + std::string(20000, 'a'), 414, kHtml, "</html>"},
      {"/images/downloadlock.gif", 200, "image/gif", std::string("GIF89a\x10\0\x10\0", 10)},  // 16 by 16
      {"/directory.asp?mode=sub&cat=99", 404, kHtml, "directory.asp?mode=sub&amp;cat=1\""},  // the categories
  };
  for (const char* target : {"/nothing", "/search.asp/x", "/%3Cscript%3E", "/a%00b", "/directory.asp?mode=sub&cat=0",
                             "/search.asp?mode=torrentdetails&id=424242", "/directory.asp?mode=sub&cat=x",
                             "/download.asp?id=0", "/download.asp?id=999999", "/download.asp?id=abc",
                             "/download.asp?id=", "/download.asp?id=1e3", "/download.asp?id=-1"}) {
    cases.emplace_back(target, 404, kHtml, "</html>");
  }
  for (const auto& [target, status, type, content] : cases) {
    SCOPED_TRACE(target.substr(0, 60));
    const auto res = Get(target);
    EXPECT_EQ(res.status, status);
    EXPECT_EQ(res.get_header_value("Content-Type"), type);
    EXPECT_NE(res.body.find(content), npos);
    if (status == 200) continue;
    EXPECT_LT(res.body.size(), 8192u);
    for (const char* never : {"<script>", "Torrent Name"}) EXPECT_EQ(res.body.find(never), npos) << never;
  }
  EXPECT_EQ(Get("/images/downloadlock.gif").body.back(), ';') << "the GIF trailer";
  EXPECT_EQ(IdsOnPage(Get("/search.asp?mode=torrentdetails&id=7&file=x").body), Strings{"7"}) << "details";
}

// A bencoded integer, string or dictionary (.torrent files hold no lists).
struct BValue {
  char kind = 'i';
  int64_t integer = 0;
  std::string string;
  std::map<std::string, BValue> dict;
  const BValue& operator[](const std::string& key) const { return dict.at(key); }
};

void Need(bool ok) {
  if (!ok) throw std::runtime_error("malformed bencoding");
}

// Reads one value off the front of `in`, loosely: see ReadCanonical.
BValue Read(std::string_view& in) {
  auto numberUpTo = [&](char end) {
    const size_t stop = in.find(end);
    Need(stop != npos);
    const int64_t value = std::stoll(std::string(in.substr(0, stop)));
    in.remove_prefix(stop + 1);
    return value;
  };
  Need(!in.empty());
  BValue v;
  v.kind = in[0] >= '0' && in[0] <= '9' ? 's' : in[0];
  if (v.kind == 's') {
    v.string = in.substr(0, static_cast<size_t>(numberUpTo(':')));
    in.remove_prefix(v.string.size());
    return v;
  }
  in.remove_prefix(1);
  if (v.kind == 'i') v.integer = numberUpTo('e');
  while (v.kind == 'd' && (Need(!in.empty()), in[0] != 'e')) {
    const std::string key = Read(in).string;
    v.dict.emplace(key, Read(in));
  }
  if (v.kind == 'd') in.remove_prefix(1);
  return v;
}

std::string Encode(const BValue& v) {
  if (v.kind == 'i') return "i" + std::to_string(v.integer) + "e";
  if (v.kind == 's') return std::to_string(v.string.size()) + ":" + v.string;
  std::string out = "d";
  for (const auto& [key, value] : v.dict) out += std::to_string(key.size()) + ":" + key + Encode(value);
  return out + "e";
}

// The value of `bytes`, provided they are its one canonical encoding, which
// the reader's leniencies cannot give back: keys that are strings, in order
// and unrepeated, integers and lengths without signs or leading zeros, no
// string cut short, nothing after the end.
BValue ReadCanonical(std::string_view bytes) {
  std::string_view in = bytes;
  BValue v = Read(in);
  Need(Encode(v) == bytes);
  return v;
}

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (unsigned char c : bytes) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  return hex;
}

TEST(Torrent, TheReaderRefusesWhatTheFormatForbidsAndSha1GivesAKnownDigest) {
  for (const char* bad : {"i03e", "i-0e", "i+1e", "ie", "i1x2e", "d1:bi1e1:ai2ee", "d1:ai1e1:ai2ee", "di1ei2ee",
                          "4:abc", "03:abc", "-1:", "i1ei2e", "d", "d1:ae", "x"}) {
    EXPECT_ANY_THROW(ReadCanonical(bad)) << bad;
  }
  EXPECT_EQ(ReadCanonical("d1:ai-12e1:bd0:0:ee")["a"].integer, -12);
  // The info hash below relies on it.
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// The first and last entries, the largest payload and a name with non-ASCII.
TEST(Torrent, ADownloadHasARealInfoDictionary) {
  const auto& entries = Shipped().Entries();
  const auto accented = Shipped().Search(u"mis\u00E9rables");
  ASSERT_FALSE(accented.empty());
  for (const Entry* entry : {&entries.front(), &entries.back(), accented.front(),
                             &*std::ranges::max_element(entries, {}, &Entry::sizeBytes)}) {
    SCOPED_TRACE(entry->id);
    const auto res = Get("/download.asp?id=" + std::to_string(entry->id) + "&file=x.torrent");
    EXPECT_EQ(res.get_header_value("Content-Disposition"), "attachment; filename=\"" + entry->fileName + ".torrent\"");
    BValue torrent;
    ASSERT_NO_THROW(torrent = ReadCanonical(res.body));
    EXPECT_EQ(torrent["announce"].string, Site().baseUrl + "announce");
    const BValue& info = torrent["info"];
    EXPECT_EQ(info["name"].string, entry->fileName);
    EXPECT_EQ(info["length"].integer, static_cast<int64_t>(entry->sizeBytes));
    const int64_t pieceLength = info["piece length"].integer;
    EXPECT_TRUE(pieceLength >= 16 * 1024 && (pieceLength & (pieceLength - 1)) == 0) << "a power of two";
    const auto pieces = static_cast<size_t>((info["length"].integer + pieceLength - 1) / pieceLength);
    const std::string& hashes = info["pieces"].string;
    EXPECT_EQ(hashes.size(), pieces * 20);
    EXPECT_TRUE(pieces == 1 || hashes.substr(0, 20) != hashes.substr(20, 20)) << "not one hash repeated";
    EXPECT_LE(pieces, 1500u);
    // The info hash as a client computes it, from the info dictionary's bytes.
    EXPECT_EQ(Hex(Sha1(Encode(info))), MakeTorrent(*entry, "elsewhere").infoHashHex);
  }
  // Pieces stay a size that clients accept, however large the payload.
  EXPECT_EQ(PieceLengthFor(1ULL << 40), 64 * 1024 * 1024);
}

}  // namespace
