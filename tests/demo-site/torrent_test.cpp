// Downloads are .torrent files that a strict bencode reader accepts.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>

#include "SiteFixture.h"
#include "Torrent.h"

namespace {

using namespace quillmere::demosite;
using namespace quillmere::demosite::testing;

// A strict reader: canonical integers, dictionary keys in ascending order,
// nothing after the top-level value. Dictionaries remember where their
// encoding starts and ends, for the info hash.
struct BValue {
  enum class Kind { Integer, String, List, Dict } kind = Kind::Integer;
  int64_t integer = 0;
  std::string string;
  std::vector<BValue> list;
  std::map<std::string, BValue> dict;
  size_t begin = 0;
  size_t end = 0;

  const BValue& at(const std::string& key) const {
    const auto it = dict.find(key);
    if (kind != Kind::Dict || it == dict.end()) {
      throw std::runtime_error("missing key " + key);
    }
    return it->second;
  }
};

class BReader {
 public:
  explicit BReader(std::string_view data) : data_(data) {}

  BValue ReadAll() {
    BValue v = Read();
    Expect(pos_ == data_.size(), "bytes after the end");
    return v;
  }

 private:
  void Expect(bool ok, const char* what) const {
    if (!ok) {
      throw std::runtime_error(std::string(what) + " at " + std::to_string(pos_));
    }
  }
  char Peek() const {
    Expect(pos_ < data_.size(), "unexpected end");
    return data_[pos_];
  }
  int64_t Digits(char terminator) {
    const size_t start = pos_;
    bool negative = Peek() == '-';
    if (negative) {
      ++pos_;
    }
    int64_t value = 0;
    while (Peek() != terminator) {
      Expect(Peek() >= '0' && Peek() <= '9', "not a digit");
      value = value * 10 + (data_[pos_++] - '0');
    }
    const std::string_view text = data_.substr(start, pos_ - start);
    Expect(!text.empty() && text != "-" && text != "-0" && !(text.size() > 1 && text[negative ? 1 : 0] == '0'),
           "non-canonical number");
    ++pos_;
    return negative ? -value : value;
  }
  std::string String() {
    const int64_t length = Digits(':');
    Expect(length >= 0 && pos_ + static_cast<size_t>(length) <= data_.size(), "string too long");
    std::string s(data_.substr(pos_, static_cast<size_t>(length)));
    pos_ += static_cast<size_t>(length);
    return s;
  }
  BValue Read() {
    BValue v;
    v.begin = pos_;
    const char c = Peek();
    if (c == 'i') {
      ++pos_;
      v.kind = BValue::Kind::Integer;
      v.integer = Digits('e');
    } else if (c == 'l') {
      ++pos_;
      v.kind = BValue::Kind::List;
      while (Peek() != 'e') {
        v.list.push_back(Read());
      }
      ++pos_;
    } else if (c == 'd') {
      ++pos_;
      v.kind = BValue::Kind::Dict;
      std::string previous;
      bool first = true;
      while (Peek() != 'e') {
        std::string key = String();
        Expect(first || key > previous, "keys out of order");
        first = false;
        previous = key;
        v.dict.emplace(std::move(key), Read());
      }
      ++pos_;
    } else {
      v.kind = BValue::Kind::String;
      v.string = String();
    }
    v.end = pos_;
    return v;
  }

  std::string_view data_;
  size_t pos_ = 0;
};

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0xF];
  }
  return hex;
}

TEST(Sha1Test, KnownDigests) {
  EXPECT_EQ(Hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(BReaderTest, RefusesWhatTheFormatForbids) {
  for (const char* bad : {"i03e", "i-0e", "ie", "d1:bi1e1:ai2ee", "4:abc", "i1ei2e", "l", "d1:ae"}) {
    EXPECT_THROW(BReader(bad).ReadAll(), std::runtime_error) << bad;
  }
  EXPECT_EQ(BReader("d1:ai-12e1:bl0:ee").ReadAll().at("a").integer, -12);
}

class DownloadTest : public ::testing::TestWithParam<int> {};

TEST_P(DownloadTest, IsATorrentWithARealInfoDictionary) {
  const Entry* entry = ShippedCatalogue().FindEntry(GetParam());
  ASSERT_NE(entry, nullptr);
  auto res = SharedSite().Get("/download.asp?id=" + std::to_string(entry->id) + "&file=x.torrent");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "application/x-bittorrent");
  EXPECT_EQ(res->get_header_value("Content-Disposition"), "attachment; filename=\"" + entry->fileName + ".torrent\"");

  BValue torrent;
  ASSERT_NO_THROW(torrent = BReader(res->body).ReadAll());
  ASSERT_EQ(torrent.kind, BValue::Kind::Dict);
  EXPECT_EQ(torrent.at("announce").string, SharedSite().BaseUrl() + "announce");
  const BValue& info = torrent.at("info");
  ASSERT_EQ(info.kind, BValue::Kind::Dict);
  EXPECT_EQ(info.at("name").string, entry->fileName);
  EXPECT_EQ(info.at("length").integer, static_cast<int64_t>(entry->sizeBytes));
  const int64_t pieceLength = info.at("piece length").integer;
  EXPECT_GE(pieceLength, 16 * 1024);
  EXPECT_EQ(pieceLength & (pieceLength - 1), 0) << "a power of two";
  const int64_t pieces = (info.at("length").integer + pieceLength - 1) / pieceLength;
  EXPECT_EQ(info.at("pieces").string.size(), static_cast<size_t>(pieces) * 20);

  // The hash over the info dictionary's bytes, as a client computes it.
  const std::string infoBytes = res->body.substr(info.begin, info.end - info.begin);
  EXPECT_EQ(Hex(Sha1(infoBytes)), MakeTorrent(*entry, "elsewhere").infoHashHex);
  // Pieces differ from one another: they are not one hash repeated.
  if (pieces > 1) {
    EXPECT_NE(info.at("pieces").string.substr(0, 20), info.at("pieces").string.substr(20, 20));
  }
}

// The first and last entries, the largest payload and a name with non-ASCII.
INSTANTIATE_TEST_SUITE_P(Entries, DownloadTest, ::testing::ValuesIn([] {
                           const auto& entries = ShippedCatalogue().Entries();
                           const Entry* largest = &entries.front();
                           const Entry* accented = nullptr;
                           for (const Entry& e : entries) {
                             largest = e.sizeBytes > largest->sizeBytes ? &e : largest;
                             if (!accented && e.name.find(u'\u00E9') != std::u16string::npos) {
                               accented = &e;
                             }
                           }
                           std::vector<int> ids = {entries.front().id, entries.back().id, largest->id};
                           if (accented) {
                             ids.push_back(accented->id);
                           }
                           return ids;
                         }()));

TEST(DownloadTest, IsTheSameFileEveryTime) {
  const Entry& e = ShippedCatalogue().Entries().at(10);
  EXPECT_EQ(MakeTorrent(e, "a").bytes, MakeTorrent(e, "a").bytes);
  EXPECT_NE(MakeTorrent(e, "a").infoHashHex, MakeTorrent(ShippedCatalogue().Entries().at(11), "a").infoHashHex);
}

TEST(DownloadTest, UnknownIdsGetNotFound) {
  for (const char* id : {"0", "999999", "abc", "", "1e3", "-1"}) {
    auto res = SharedSite().Get(std::string("/download.asp?id=") + id);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404) << id;
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=windows-1252");
  }
}

TEST(PieceLength, KeepsThePieceListShort) {
  for (uint64_t size : {1ULL, 300ULL * 1024 * 1024, 12ULL << 30, 90ULL << 30}) {
    const int64_t length = PieceLengthFor(size);
    EXPECT_LE(size / static_cast<uint64_t>(length), 1500u) << size;
  }
  EXPECT_EQ(PieceLengthFor(1), 256 * 1024);
  EXPECT_EQ(PieceLengthFor(1ULL << 40), 64 * 1024 * 1024) << "pieces stay a size clients accept";
}

}  // namespace
