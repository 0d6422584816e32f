// The pages' markers and link forms, checked on pages served over loopback
// and through the program's own results builder.
#include <gtest/gtest.h>

#include <algorithm>

#include "Pages.h"
#include "SiteFixture.h"
#include "results/ResultsPage.h"
#include "text/CodePage.h"

namespace {

using namespace quillmere::demosite;
using namespace quillmere::demosite::testing;
using quillmere::results::BuildResultsPage;
using quillmere::results::Variant;
using quillmere::text::FromCodePage;
using quillmere::text::ToCodePage;

std::vector<int> IdsOnPage(const std::string& body) {
  std::vector<int> ids;
  for (const std::string& id : AllMatches(body, R"(search\.asp\?mode=torrentdetails&amp;id=(\d+)&amp;)")) {
    ids.push_back(std::stoi(id));
  }
  return ids;
}

std::vector<int> Ids(const std::vector<const Entry*>& entries) {
  std::vector<int> ids;
  for (const Entry* e : entries) {
    ids.push_back(e->id);
  }
  return ids;
}

// The part of a page from "Pages (" to the next "</td>".
std::string PagesCell(const std::string& body) {
  const size_t start = body.find("Pages (");
  return start == std::string::npos ? "" : body.substr(start, body.find("</td>", start) - start);
}

TEST(SearchPageShape, CarriesTheMarkersAndLinkFormsInEveryRow) {
  auto res = SharedSite().Get("/search.asp?query=CC&mode=search");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=windows-1252");
  const std::string& body = res->body;

  const size_t marker = body.find("Torrent Name");
  ASSERT_NE(marker, std::string::npos);
  const size_t tableEnd = body.find("</table>", marker);
  ASSERT_NE(tableEnd, std::string::npos);
  const std::string table = body.substr(marker, tableEnd - marker);
  EXPECT_EQ(table.find("<table"), std::string::npos) << "no table inside the results table";
  EXPECT_EQ(body.rfind("Pages (", marker), std::string::npos) << "the chrome before the table has no marker";

  const size_t rows = CountOf(table, "<tr");
  EXPECT_EQ(rows, size_t{kRowsPerPage}) << "result rows after the header row";
  EXPECT_EQ(AllMatches(table, R"rx(href="directory\.asp\?mode=sub&amp;cat=(\d+)")rx").size(), kRowsPerPage);
  EXPECT_EQ(AllMatches(table, R"rx(href="search\.asp\?mode=torrentdetails&amp;id=(\d+)&amp;[^"]+")rx").size(),
            kRowsPerPage);
  EXPECT_EQ(AllMatches(table, R"rx(href="download\.asp\?id=(\d+)&amp;[^"]+")rx").size(), kRowsPerPage);
  EXPECT_EQ(CountOf(table, "<img src=\"images/downloadlock.gif\""), static_cast<size_t>(kRowsPerPage));
  // Size, seeders, leechers and date in each row.
  EXPECT_EQ(AllMatches(table, R"(<td>(\d{4}-\d{2}-\d{2})</td><td class="num">\d+\.\d\d [KMGT]?B</td><td class="num">\d+</td><td class="num">\d+</td>)")
                .size(),
            kRowsPerPage);

  const std::string cell = PagesCell(body);
  ASSERT_FALSE(cell.empty());
  EXPECT_GT(body.find("Pages ("), tableEnd);
  EXPECT_FALSE(AllMatches(cell, R"rx(href="search\.asp\?query=CC&amp;mode=search&amp;page=(\d+)")rx").empty());
  EXPECT_EQ(CountOf(cell, "directory.asp?"), 1u);
  // Header, menu and footer sit around the table.
  EXPECT_LT(body.find("id=\"menu\""), marker);
  EXPECT_GT(body.find("id=\"footer\""), tableEnd);
}

TEST(SearchPageShape, TheBuilderGetsRowsAndANavigationRowWithAbsoluteLinks) {
  auto res = SharedSite().Get("/search.asp?query=cc&mode=search&page=2");
  ASSERT_TRUE(res);
  const std::string base = SharedSite().BaseUrl();
  const std::u16string base16(base.begin(), base.end());
  const auto page = BuildResultsPage(FromCodePage(res->body), base16, Variant::ResultsWindow);
  ASSERT_TRUE(page.matched);
  const std::string rows = ToCodePage(page.resultsRows);
  const std::string nav = ToCodePage(page.pagesRow);

  EXPECT_EQ(rows.rfind("Torrent Name", 0), 0u);
  // Details links become downloads, so each row has two download links.
  EXPECT_EQ(CountOf(rows, "href=\"" + base + "download.asp?id="), 2u * kRowsPerPage);
  EXPECT_EQ(CountOf(rows, "href=\"" + base + "directory.asp?mode=sub&cat="), static_cast<size_t>(kRowsPerPage));
  EXPECT_EQ(CountOf(rows, "src=\"" + base + "images/downloadlock.gif\""), static_cast<size_t>(kRowsPerPage));
  for (const char* relative : {"href=\"download", "href=\"search", "href=\"directory", "src=\"images"}) {
    EXPECT_EQ(rows.find(relative), std::string::npos) << relative;
  }
  EXPECT_NE(nav.find("href=\"" + base + "search.asp?query=cc&amp;mode=search&amp;page=1\""), std::string::npos);
  EXPECT_NE(nav.find("href=\"" + base + "directory.asp?"), std::string::npos);
  EXPECT_EQ(nav.find("href=\"search"), std::string::npos);
}

TEST(SearchPageShape, EveryLinkTheBuilderMakesIsServed) {
  // Main-window variant: the details links keep "&amp;" and so arrive as
  // "download.asp?amp;id=N"; the site still hands out the torrent.
  auto res = SharedSite().Get("/search.asp?query=blender&mode=search");
  ASSERT_TRUE(res);
  const std::string base = SharedSite().BaseUrl();
  const auto page = BuildResultsPage(FromCodePage(res->body), std::u16string(base.begin(), base.end()),
                                     Variant::MainWindow);
  const std::string html = ToCodePage(page.resultsRows) + ToCodePage(page.pagesRow);
  const auto links = AllMatches(html, "(?:href|src)=\"" + base + R"rx(([^"]*)")rx");
  ASSERT_GT(links.size(), 4u * 10);
  std::set<std::string> seen;
  for (const std::string& link : links) {
    if (!seen.insert(link).second) {
      continue;
    }
    auto served = SharedSite().Get("/" + UnescapeAmp(link));
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200) << link;
    const std::string type = served->get_header_value("Content-Type");
    if (link.starts_with("download.asp")) {
      EXPECT_EQ(type, "application/x-bittorrent") << link;
    } else if (link.starts_with("images/")) {
      EXPECT_EQ(type, "image/gif");
    } else {
      EXPECT_NE(served->body.find("Torrent Name"), std::string::npos) << link;
    }
  }
}

struct ListingCase {
  std::string name;
  std::string firstPageTarget;  // without "&page="
  std::vector<int> expected;
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.firstPageTarget; }

std::vector<ListingCase> Listings() {
  const Catalogue& c = ShippedCatalogue();
  std::vector<ListingCase> cases = {
      {"search_one_page", "/search.asp?query=linux&mode=search", Ids(c.Search(u"linux"))},
      {"search_many_pages", "/search.asp?query=cc&mode=search", Ids(c.Search(u"cc"))},
      {"search_two_words", "/search.asp?query=Kevin+MacLeod&mode=search", Ids(c.Search(u"kevin macleod"))},
      {"search_accent_cp1252", "/search.asp?query=mis%E9rables&mode=search", Ids(c.Search(u"mis\u00E9rables"))},
  };
  for (const Category& cat : c.Categories()) {
    cases.push_back({"category_" + std::to_string(cat.id), "/directory.asp?mode=sub&cat=" + std::to_string(cat.id),
                     Ids(c.InCategory(cat.id))});
  }
  return cases;
}

class Pagination : public ::testing::TestWithParam<ListingCase> {};

TEST_P(Pagination, PageKHoldsItsSliceAndTheLastPageLinksBack) {
  const ListingCase& c = GetParam();
  ASSERT_FALSE(c.expected.empty());
  const int pageCount = static_cast<int>((c.expected.size() + kRowsPerPage - 1) / kRowsPerPage);
  std::vector<int> all;
  for (int k = 1; k <= pageCount; ++k) {
    auto res = SharedSite().Get(c.firstPageTarget + "&page=" + std::to_string(k));
    ASSERT_TRUE(res);
    const std::vector<int> ids = IdsOnPage(res->body);
    EXPECT_EQ(ids.size(), k < pageCount ? size_t{kRowsPerPage} : c.expected.size() - (pageCount - 1) * kRowsPerPage)
        << "page " << k;
    all.insert(all.end(), ids.begin(), ids.end());

    const std::string cell = PagesCell(res->body);
    EXPECT_EQ(cell.rfind("Pages (" + std::to_string(pageCount) + ")", 0), 0u) << cell;
    std::vector<int> linked;
    for (const std::string& p : AllMatches(cell, R"rx(page=(\d+)")rx")) {
      linked.push_back(std::stoi(p));
    }
    // Every other page is linked; the current one is not.
    for (int other = 1; other <= pageCount; ++other) {
      EXPECT_EQ(std::count(linked.begin(), linked.end(), other) > 0, other != k) << "page " << k << " -> " << other;
    }
    if (k == pageCount && pageCount > 1) {
      EXPECT_NE(cell.find("page=" + std::to_string(k - 1) + "\">&laquo; Previous"), std::string::npos);
      EXPECT_EQ(cell.find("Next"), std::string::npos);
    }
  }
  EXPECT_EQ(all, c.expected);

  // A page past the end is the last page; a page that is no number is the first.
  auto past = SharedSite().Get(c.firstPageTarget + "&page=" + std::to_string(pageCount + 7));
  auto last = SharedSite().Get(c.firstPageTarget + "&page=" + std::to_string(pageCount));
  ASSERT_TRUE(past && last);
  EXPECT_EQ(IdsOnPage(past->body), IdsOnPage(last->body));
  for (const char* odd : {"0", "-1", "x", "2abc", "99999999999999", ""}) {
    auto res = SharedSite().Get(c.firstPageTarget + "&page=" + odd);
    ASSERT_TRUE(res);
    EXPECT_EQ(IdsOnPage(res->body),
              std::vector<int>(c.expected.begin(), c.expected.begin() + std::min<size_t>(kRowsPerPage, c.expected.size())))
        << "page=" << odd;
  }
}

INSTANTIATE_TEST_SUITE_P(Listings, Pagination, ::testing::ValuesIn(Listings()),
                         [](const auto& info) { return info.param.name; });

TEST(DirectoryPage, ListsEveryCategoryInsideTheResultsTable) {
  auto res = SharedSite().Get("/directory.asp");
  ASSERT_TRUE(res);
  const std::string& body = res->body;
  const size_t marker = body.find("Torrent Name");
  ASSERT_NE(marker, std::string::npos);
  const std::string table = body.substr(marker, body.find("</table>", marker) - marker);
  std::set<std::string> linked;
  for (const std::string& id : AllMatches(table, R"(directory\.asp\?mode=sub&amp;cat=(\d+))")) {
    linked.insert(id);
  }
  EXPECT_EQ(linked.size(), ShippedCatalogue().Categories().size());
}

struct BadQuery {
  std::string name;
  std::string encoded;  // as it stands in the address
};

void PrintTo(const BadQuery& q, std::ostream* os) { *os << q.encoded.substr(0, 60); }

class BadQueries : public ::testing::TestWithParam<BadQuery> {};

TEST_P(BadQueries, GetAPageThatEchoesNothingRaw) {
  auto res = SharedSite().Get("/search.asp?query=" + GetParam().encoded + "&mode=search");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=windows-1252");
  EXPECT_NE(res->body.find("</html>"), std::string::npos);
  EXPECT_EQ(res->body.find("<script"), std::string::npos);
  EXPECT_EQ(res->body.find("\"><b"), std::string::npos);
  EXPECT_EQ(res->body.find('\0'), std::string::npos);
  // Whatever came in, the page links carry it back escaped.
  for (const std::string& link : AllMatches(PagesCell(res->body), R"rx(href="([^"]*)")rx")) {
    EXPECT_EQ(link.find_first_of("<>\" "), std::string::npos) << link;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Queries, BadQueries,
    ::testing::Values(BadQuery{"empty", ""}, BadQuery{"spaces", "+++"}, BadQuery{"lone_percent", "%"},
                      BadQuery{"bad_escape", "%zz%4"}, BadQuery{"nul", "linux%00"},
                      BadQuery{"escaped_percent", "%25linux"}, BadQuery{"markup", "%3Cscript%3Ealert(1)%3C/script%3E"},
                      BadQuery{"attribute_break", "linux%22%3E%3Cb"}, BadQuery{"ampersand", "linux+%26+x%3D1"},
                      BadQuery{"cp1252_bytes", "m%FCde+%80+%96"}, BadQuery{"utf8", "m%C3%BCde"},
                      BadQuery{"broken_utf8", "%C3%28%E2%82"}, BadQuery{"outside_code_page", "%E4%B8%AD%E6%96%87"},
                      BadQuery{"long", std::string(7000, 'a')},
                      BadQuery{"many_words", [] {
                                 std::string s;
                                 for (int i = 0; i < 1500; ++i) s += "li+";
                                 return s;
                               }()}),
    [](const auto& info) { return info.param.name; });

TEST(BadQueriesOverTheLimit, GetAnErrorPageAndTheSiteKeepsServing) {
  auto res = SharedSite().Get("/search.asp?query=" + std::string(20000, 'a') + "&mode=search");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 414);
  EXPECT_NE(res->body.find("</html>"), std::string::npos);
  auto after = SharedSite().Get("/search.asp?query=linux&mode=search");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

TEST(NoMatch, HasNoResultsMarkerButSaysSoInTheSitesWords) {
  const Page page = SearchPage(ShippedCatalogue(), "xyzzy plugh", "");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body.find("Torrent Name"), std::string::npos);
  EXPECT_EQ(page.body.find("Pages ("), std::string::npos);
  EXPECT_NE(page.body.find("nothing in the index matches \x93xyzzy plugh\x94"), std::string::npos);
}

TEST(QueryCarriedOn, ThePageLinksRepeatTheQueryAsReceived) {
  // "&" and "=" inside the query must not end it in the links.
  const Page page = SearchPage(ShippedCatalogue(), "cc & =", "2");
  const std::string cell = PagesCell(page.body);
  EXPECT_NE(cell.find("search.asp?query=cc+%26+%3D&amp;mode=search&amp;page=1\""), std::string::npos) << cell;
  EXPECT_EQ(IdsOnPage(page.body), IdsOnPage(SearchPage(ShippedCatalogue(), "cc", "2").body));
  // And following that link gives the same page 1 as the plain query.
  auto followed = SharedSite().Get("/search.asp?query=cc+%26+%3D&mode=search&page=1");
  ASSERT_TRUE(followed);
  EXPECT_EQ(IdsOnPage(followed->body), IdsOnPage(SearchPage(ShippedCatalogue(), "cc", "1").body));
}

TEST(Escaping, HtmlAndUrl) {
  EXPECT_EQ(HtmlEscape(u"a<b>&\"'\x01\u0085\u00E9"), u"a&lt;b&gt;&amp;&quot;&#39;\u00E9");
  EXPECT_EQ(UrlEscape("a b&c=d/\xE9~"), "a+b%26c%3Dd%2F%E9~");
  EXPECT_EQ(DecodeQueryBytes("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(DecodeQueryBytes("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(DecodeQueryBytes("\x80 \xC0\xAF"), u"\u20AC \u00C0\u00AF");  // overlong UTF-8 is not UTF-8
}

}  // namespace
