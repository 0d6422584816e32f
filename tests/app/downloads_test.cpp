#include "app/Downloads.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quillmere::app {
namespace {

// 244 bytes at most, so that WebKit's "<name>.wkdownload" still fits in 255.
TEST(SafeDownloadName, KeepsNamesSafeAndWithin244Bytes) {
  const std::string x236(236, 'x');
  std::string euros;  // 79 three-byte characters
  while (euros.size() < 79 * 3) euros += "\xe2\x82\xac";
  const struct {
    std::string suggested, expected;
  } cases[] = {
      {"Ubuntu 22.04.torrent", "Ubuntu 22.04.torrent"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"/abs/path.torrent", "_abs_path.torrent"},
      {"dir\\win.torrent", "dir_win.torrent"},
      // The control characters end at 0x1F; 0x7F is one too, the bytes around it are not.
      {std::string("x\x1f y~\x7f\0\t\n.torrent\x80", 18), "x_ y~____.torrent\x80"},
      {"", "download"}, {".", "download"}, {"..", "download"}, {"   ", "download"},
      {"  padded.torrent  ", "padded.torrent"},
      {x236 + ".torrent", x236 + ".torrent"},
      {x236 + "x.torrent", x236 + ".torrent"},
      // The limit falls inside a three-byte character, which goes whole.
      {euros + ".torrent", euros.substr(0, 78 * 3) + ".torrent"},
      // An extension is at most 32 bytes with its dot; a longer one is cut like the rest.
      {std::string(300, 'x') + "." + std::string(31, 'e'), std::string(212, 'x') + "." + std::string(31, 'e')},
      {std::string(300, 'x') + "." + std::string(32, 'e'), std::string(244, 'x')},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeDownloadName(c.suggested), c.expected) << c.suggested;
}

TEST(DownloadFolder, PrefersTheEnvironmentThenTheSettingsThenHome) {
  EXPECT_EQ(DownloadFolder("/env/dl", "/settings/dl", "/home/u"), "/env/dl");
  EXPECT_EQ(DownloadFolder("", "/settings/dl", "/home/u"), "/settings/dl");
  EXPECT_EQ(DownloadFolder(std::nullopt, "", "/home/u/"), "/home/u/Downloads");
}

TEST(UniqueDownloadPath, NumbersTheNameUntilItIsFreeAndNeverOverwrites) {
  const std::string longest = std::string(236, 'n') + ".torrent";
  const std::set<std::string> taken = {"/dl/a.torrent", "/dl/a (1).torrent", "/dl/noext", "/dl/.hidden",
                                       "/dl/x.tar.gz", "/dl/" + longest};
  const auto exists = [&](const std::string& path) { return taken.count(path) != 0; };
  EXPECT_EQ(UniqueDownloadPath("/dl/", "b.torrent", exists), "/dl/b.torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", exists), "/dl/a (2).torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "noext", exists), "/dl/noext (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", ".hidden", exists), "/dl/.hidden (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", "x.tar.gz", exists), "/dl/x.tar (1).gz");
  // A numbered name stays within 244 bytes too.
  EXPECT_EQ(UniqueDownloadPath("/dl", longest, exists), "/dl/" + std::string(232, 'n') + " (1).torrent");
  // When every name is taken it gives up rather than overwrite, after 9999 numbers.
  unsigned calls = 0;
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", [&](const std::string&) { return ++calls > 0; }), "");
  EXPECT_EQ(calls, 10000u);
}

}  // namespace
}  // namespace quillmere::app
