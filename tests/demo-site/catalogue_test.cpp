#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "Catalogue.h"
#include "SiteFixture.h"
#include "text/CodePage.h"

namespace {

using namespace quillmere::demosite;
using quillmere::demosite::testing::ShippedCatalogue;

constexpr std::string_view kHeader = "category\t1\tLinux\ncategory\t2\tBooks\n";

std::vector<int> Ids(const std::vector<const Entry*>& entries) {
  std::vector<int> ids;
  for (const Entry* e : entries) {
    ids.push_back(e->id);
  }
  return ids;
}

TEST(ShippedCatalogueTest, HoldsAboutThreeHundredEntriesThatTheCodePageCanCarry) {
  const Catalogue& c = ShippedCatalogue();
  EXPECT_GE(c.Entries().size(), 250u);
  EXPECT_LE(c.Entries().size(), 400u);
  std::set<int> categoriesUsed;
  for (const Entry& e : c.Entries()) {
    categoriesUsed.insert(e.categoryId);
    // A name that the page encoding cannot hold would show up as "?".
    EXPECT_EQ(quillmere::text::FromCodePage(quillmere::text::ToCodePage(e.name)), e.name) << e.id;
  }
  EXPECT_EQ(categoriesUsed.size(), c.Categories().size()) << "every category has entries";
}

TEST(ShippedCatalogueTest, SomeNamesUseTheCodePagesOwnCharacters) {
  for (const char16_t* ch : {u"\u00E9", u"\u00FC", u"\u2013", u"\u20AC"}) {
    bool found = false;
    for (const Entry& e : ShippedCatalogue().Entries()) {
      found = found || e.name.find(ch) != std::u16string::npos;
    }
    EXPECT_TRUE(found) << quillmere::text::ToUtf8(ch);
  }
}

struct BadLine {
  const char* why;
  std::string line;
};

void PrintTo(const BadLine& b, std::ostream* os) { *os << b.why; }

class MalformedCatalogue : public ::testing::TestWithParam<BadLine> {};

TEST_P(MalformedCatalogue, IsRefusedWithTheLineNumber) {
  std::string error;
  const auto c = Catalogue::Parse(std::string(kHeader) + GetParam().line + "\n", &error);
  EXPECT_FALSE(c.has_value());
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MalformedCatalogue,
    ::testing::Values(BadLine{"fields missing", "torrent\t1\t1\t2024-01-01\t100\t1\t1\tf.iso"},
                      BadLine{"unknown category", "torrent\t1\t9\t2024-01-01\t100\t1\t1\tf.iso\tName"},
                      BadLine{"bad date", "torrent\t1\t1\t2024-1-01\t100\t1\t1\tf.iso\tName"},
                      BadLine{"negative seeders", "torrent\t1\t1\t2024-01-01\t100\t-1\t1\tf.iso\tName"},
                      BadLine{"empty payload", "torrent\t1\t1\t2024-01-01\t0\t1\t1\tf.iso\tName"},
                      BadLine{"quote in file name", "torrent\t1\t1\t2024-01-01\t100\t1\t1\tf\".iso\tName"},
                      BadLine{"path in file name", "torrent\t1\t1\t2024-01-01\t100\t1\t1\ta/b.iso\tName"},
                      BadLine{"duplicate category", "category\t2\tAgain"},
                      BadLine{"unknown record", "film\t1\tName"}),
    [](const auto& info) {
      std::string name = info.param.why;
      for (char& ch : name) {
        ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      }
      return name;
    });

TEST(CatalogueParse, RefusesADuplicateTorrentId) {
  std::string error;
  const std::string text = std::string(kHeader) + "torrent\t4\t1\t2024-01-01\t100\t1\t1\ta.iso\tA\n" +
                           "torrent\t4\t2\t2024-01-01\t100\t1\t1\tb.iso\tB\n";
  EXPECT_FALSE(Catalogue::Parse(text, &error).has_value());
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto parsed = Catalogue::Parse(
        std::string(kHeader) +
            "# comment\r\n"
            "torrent\t3\t1\t2024-01-01\t100\t1\t1\tc.iso\tDebian 12.5.0 amd64 netinst\r\n"
            "torrent\t1\t1\t2024-01-01\t100\t1\t1\ta.iso\tFreeBSD 14.1 amd64 disc1\n"
            "torrent\t2\t2\t2024-01-01\t100\t1\t1\tb.epub\tVictor Hugo \xE2\x80\x93 Les Mis\xC3\xA9rables [EPUB]\n"
            "torrent\t4\t2\t2024-01-01\t100\t1\t1\td.epub\tKochbuch \xE2\x80\x93 Rezepte unter 5 \xE2\x82\xAC\n",
        &error);
    ASSERT_TRUE(parsed) << error;
    catalogue = std::move(*parsed);
  }
  Catalogue catalogue;
};

TEST_F(SearchTest, ListsInIdOrderWhateverTheFileOrder) {
  EXPECT_EQ(Ids(catalogue.InCategory(1)), (std::vector<int>{1, 3}));
  EXPECT_EQ(catalogue.FindEntry(4)->name.back(), u'\u20AC');
  EXPECT_EQ(catalogue.FindEntry(5), nullptr);
}

struct SearchCase {
  std::u16string query;
  std::vector<int> ids;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << quillmere::text::ToUtf8(c.query); }

class SearchWords : public SearchTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchWords, MatchWordBeginningsIgnoringCase) {
  EXPECT_EQ(Ids(catalogue.Search(GetParam().query)), GetParam().ids) << quillmere::text::ToUtf8(GetParam().query);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, SearchWords,
    ::testing::Values(SearchCase{u"amd64", {1, 3}}, SearchCase{u"AMD64", {1, 3}}, SearchCase{u"deb", {3}},
                      SearchCase{u"ebian", {}},                          // inside a word only at its start
                      SearchCase{u"amd64 freebsd", {1}},                 // every word must match
                      SearchCase{u"amd64 hugo", {}}, SearchCase{u"mis\u00E9rables", {2}},
                      SearchCase{u"MIS\u00C9RABLES", {2}},               // accented capitals too
                      SearchCase{u"miserables", {}}, SearchCase{u"12.5", {3}}, SearchCase{u"\u20AC", {4}},
                      SearchCase{u"", {}}, SearchCase{u"  \u2013 -- ", {}},  // no words at all
                      SearchCase{u"hugo hugo HUGO", {2}}));

TEST(SplitWordsTest, SeparatesAtPunctuationAndLowersLetters) {
  EXPECT_EQ(SplitWords(u"Pop!_OS 22.04 \u00DCber\u2013All"),
            (std::vector<std::u16string>{u"pop", u"os", u"22", u"04", u"\u00FCber", u"all"}));
}

}  // namespace
