// What the site answers besides its listings.
#include <gtest/gtest.h>

#include "SiteFixture.h"

namespace {

using namespace quillmere::demosite::testing;

uint16_t Le16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}

TEST(LockImage, IsASmallGif) {
  auto res = SharedSite().Get("/images/downloadlock.gif");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "image/gif");
  const std::string& gif = res->body;
  ASSERT_GT(gif.size(), 13u);
  EXPECT_EQ(gif.substr(0, 6), "GIF89a");
  EXPECT_EQ(Le16(gif, 6), 16);
  EXPECT_EQ(Le16(gif, 8), 16);
  EXPECT_EQ(gif.back(), '\x3B') << "trailer";
  // Header, global colour table, then an image descriptor of the same size.
  const size_t palette = (static_cast<unsigned char>(gif[10]) & 0x80) ? 3u << ((gif[10] & 7) + 1) : 0u;
  size_t at = 13 + palette;
  while (at < gif.size() && gif[at] == '\x21') {  // extensions: skip their sub-blocks
    at += 2;
    while (at < gif.size() && gif[at] != 0) {
      at += static_cast<unsigned char>(gif[at]) + 1u;
    }
    ++at;
  }
  ASSERT_LT(at + 9, gif.size());
  EXPECT_EQ(gif[at], '\x2C');
  EXPECT_EQ(Le16(gif, at + 5), 16);
  EXPECT_EQ(Le16(gif, at + 7), 16);
}

TEST(UnknownPaths, GetA404WithASmallHtmlBody) {
  for (const char* path : {"/nothing", "/search.asp/x", "/images/other.gif", "/%3Cscript%3E", "/a%00b"}) {
    auto res = SharedSite().Get(path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404) << path;
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=windows-1252");
    EXPECT_NE(res->body.find("</html>"), std::string::npos);
    EXPECT_LT(res->body.size(), 2048u);
    EXPECT_EQ(res->body.find("<script>"), std::string::npos);
  }
}

TEST(Addresses, AreMatchedRegardlessOfLetterCase) {
  auto res = SharedSite().Get("/SEARCH.ASP?query=Linux&mode=search");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("Torrent Name"), std::string::npos);
  // Scripts recognise the site by this header.
  EXPECT_EQ(res->get_header_value("Server"), "quillmere-demo-site");
}

TEST(Details, ShowOneRowAndUnknownIdsGetNotFound) {
  auto res = SharedSite().Get("/search.asp?mode=torrentdetails&id=7&file=x");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(CountOf(res->body, "download.asp?id=7&amp;"), 1u);
  auto missing = SharedSite().Get("/search.asp?mode=torrentdetails&id=424242");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
}

TEST(Categories, AnUnknownCategoryGetsNotFoundWithTheListOfCategories) {
  for (const char* cat : {"99", "0", "x", ""}) {
    auto res = SharedSite().Get(std::string("/directory.asp?mode=sub&cat=") + cat);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404) << cat;
    EXPECT_EQ(res->body.find("Torrent Name"), std::string::npos);
    EXPECT_EQ(CountOf(res->body, "directory.asp?mode=sub&amp;cat="),
              quillmere::demosite::testing::ShippedCatalogue().Categories().size());
  }
}

}  // namespace
