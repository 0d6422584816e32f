#include "app/Downloads.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillmere::app {
namespace {

TEST(SafeDownloadName, KeepsNamesSafeAndWithin255Bytes) {
  const std::string accented = [] {
    std::string s;  // 200 two-byte characters: the limit falls inside one
    for (int i = 0; i < 200; ++i) s += "\xc3\xa9";
    return s;
  }();
  const struct {
    std::string suggested, expected;
  } cases[] = {
      {"Ubuntu 22.04.torrent", "Ubuntu 22.04.torrent"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"/abs/path.torrent", "_abs_path.torrent"},
      {"dir\\win.torrent", "dir_win.torrent"},
      {"tab\there\nnew\x7f.torrent", "tab_here_new_.torrent"},
      {std::string("a\0b.torrent", 11), "a_b.torrent"},
      {"", "download"}, {".", "download"}, {"..", "download"}, {"   ", "download"},
      {"  padded.torrent  ", "padded.torrent"},
      {"caf\xc3\xa9 \xe2\x82\xac.torrent", "caf\xc3\xa9 \xe2\x82\xac.torrent"},
      {std::string(300, 'x') + ".torrent", std::string(247, 'x') + ".torrent"},
      {accented + ".torrent", accented.substr(0, 246) + ".torrent"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeDownloadName(c.suggested), c.expected) << c.suggested;
}

TEST(DownloadFolder, PrefersTheEnvironmentThenTheSettingsThenHome) {
  EXPECT_EQ(DownloadFolder("/env/dl", "/settings/dl", "/home/u"), "/env/dl");
  EXPECT_EQ(DownloadFolder(std::nullopt, "/settings/dl", "/home/u"), "/settings/dl");
  EXPECT_EQ(DownloadFolder("", "/settings/dl", "/home/u"), "/settings/dl");
  EXPECT_EQ(DownloadFolder(std::nullopt, "", "/home/u/"), "/home/u/Downloads");
}

TEST(UniqueDownloadPath, NumbersTheNameUntilItIsFreeAndNeverOverwrites) {
  const std::string longest = std::string(247, 'n') + ".torrent";
  const std::set<std::string> taken = {"/dl/a.torrent", "/dl/a (1).torrent", "/dl/noext", "/dl/.hidden",
                                       "/dl/x.tar.gz", "/dl/" + longest};
  const auto exists = [&](const std::string& path) { return taken.count(path) != 0; };
  EXPECT_EQ(UniqueDownloadPath("/dl/", "b.torrent", exists), "/dl/b.torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", exists), "/dl/a (2).torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "noext", exists), "/dl/noext (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", ".hidden", exists), "/dl/.hidden (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", "x.tar.gz", exists), "/dl/x.tar (1).gz");
  // A numbered name stays within 255 bytes.
  EXPECT_EQ(UniqueDownloadPath("/dl", longest, exists), "/dl/" + std::string(243, 'n') + " (1).torrent");
  // When every name is taken it gives up rather than overwrite.
  unsigned calls = 0;
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", [&](const std::string&) { return ++calls > 0; }), "");
  EXPECT_EQ(calls, kMaxNumberedNames + 1);
}

}  // namespace
}  // namespace quillmere::app
