#include "app/Downloads.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillmere::app {
namespace {

struct NameCase {
  const char* suggested;
  const char* expected;
};

class SafeDownloadNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeDownloadNameTest, MakesTheSuggestedNameSafe) {
  EXPECT_EQ(SafeDownloadName(GetParam().suggested), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeDownloadNameTest,
    ::testing::Values(NameCase{"Ubuntu 22.04.torrent", "Ubuntu 22.04.torrent"},
                      NameCase{"../../etc/passwd", ".._.._etc_passwd"},
                      NameCase{"/abs/path.torrent", "_abs_path.torrent"},
                      NameCase{"dir\\win.torrent", "dir_win.torrent"},
                      NameCase{"tab\there\nnew\x7f.torrent", "tab_here_new_.torrent"},
                      NameCase{"", "download"}, NameCase{".", "download"}, NameCase{"..", "download"},
                      NameCase{"   ", "download"}, NameCase{"  padded.torrent  ", "padded.torrent"},
                      NameCase{"caf\xc3\xa9 \xe2\x82\xac.torrent", "caf\xc3\xa9 \xe2\x82\xac.torrent"},
                      NameCase{"...", "..."}));

TEST(SafeDownloadName, KeepsAnEmbeddedNulOut) {
  EXPECT_EQ(SafeDownloadName(std::string_view("a\0b.torrent", 11)), "a_b.torrent");
}

TEST(SafeDownloadName, CutsLongNamesTo255BytesKeepingTheExtension) {
  const std::string name = SafeDownloadName(std::string(300, 'x') + ".torrent");
  EXPECT_EQ(name.size(), 255u);
  EXPECT_EQ(name.substr(name.size() - 8), ".torrent");
}

TEST(SafeDownloadName, NeverCutsInsideAMultiByteCharacter) {
  // 200 two-byte characters: the 255-byte limit falls inside one of them.
  std::string stem;
  for (int i = 0; i < 200; ++i) stem += "\xc3\xa9";
  const std::string name = SafeDownloadName(stem + ".torrent");
  EXPECT_LE(name.size(), 255u);
  EXPECT_EQ(name.size(), 254u);  // 123 characters + ".torrent"
  EXPECT_EQ(name.substr(name.size() - 8), ".torrent");
  EXPECT_EQ(name.substr(0, 246), stem.substr(0, 246));
}

TEST(DownloadFolder, PrefersTheEnvironmentThenTheSettingsThenHome) {
  EXPECT_EQ(DownloadFolder("/env/dl", "/settings/dl", "/home/u"), "/env/dl");
  EXPECT_EQ(DownloadFolder(std::nullopt, "/settings/dl", "/home/u"), "/settings/dl");
  EXPECT_EQ(DownloadFolder("", "/settings/dl", "/home/u"), "/settings/dl");
  EXPECT_EQ(DownloadFolder(std::nullopt, std::nullopt, "/home/u"), "/home/u/Downloads");
  EXPECT_EQ(DownloadFolder(std::nullopt, "", "/home/u/"), "/home/u/Downloads");
}

TEST(UniqueDownloadPath, UsesTheNameWhenItIsFree) {
  const auto none = [](const std::string&) { return false; };
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", none), "/dl/a.torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl/", "a.torrent", none), "/dl/a.torrent");
}

TEST(UniqueDownloadPath, NumbersTheNameUntilItIsFree) {
  const std::set<std::string> taken = {"/dl/a.torrent", "/dl/a (1).torrent", "/dl/noext", "/dl/.hidden",
                                       "/dl/x.tar.gz"};
  const auto exists = [&](const std::string& path) { return taken.count(path) != 0; };
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", exists), "/dl/a (2).torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "noext", exists), "/dl/noext (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", ".hidden", exists), "/dl/.hidden (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", "x.tar.gz", exists), "/dl/x.tar (1).gz");
}

TEST(UniqueDownloadPath, KeepsNumberedNamesWithin255Bytes) {
  const std::string name = std::string(247, 'n') + ".torrent";
  ASSERT_EQ(name.size(), 255u);
  const auto onlyFirstTaken = [&](const std::string& path) { return path == "/dl/" + name; };
  const std::string path = UniqueDownloadPath("/dl", name, onlyFirstTaken);
  const std::string file = path.substr(4);
  EXPECT_EQ(file.size(), 255u);
  EXPECT_EQ(file.substr(file.size() - 12), " (1).torrent");
}

TEST(UniqueDownloadPath, GivesUpWhenEveryNameIsTaken) {
  unsigned calls = 0;
  const auto all = [&](const std::string&) {
    ++calls;
    return true;
  };
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", all), "");
  EXPECT_EQ(calls, kMaxNumberedNames + 1);
}

}  // namespace
}  // namespace quillmere::app
