#include "Torrent.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "text/CodePage.h"

namespace quillmere::demosite {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t EpochSeconds(const std::string& date) {
  // The catalogue has checked the form YYYY-MM-DD.
  const int64_t y = std::stoi(date.substr(0, 4));
  const auto m = static_cast<unsigned>(std::stoi(date.substr(5, 2)));
  const auto d = static_cast<unsigned>(std::stoi(date.substr(8, 2)));
  return DaysFromCivil(y, m, d) * 86400;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex.push_back(kDigits[c >> 4]);
    hex.push_back(kDigits[c & 0xF]);
  }
  return hex;
}

}  // namespace

void BencodeString(std::string& out, std::string_view bytes) {
  out += std::to_string(bytes.size());
  out += ':';
  out += bytes;
}

void BencodeInteger(std::string& out, int64_t value) {
  out += 'i';
  out += std::to_string(value);
  out += 'e';
}

std::string Sha1(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr) != 1 || size != 20) {
    throw std::runtime_error("SHA-1 failed");
  }
  return std::string(reinterpret_cast<const char*>(digest), size);
}

int64_t PieceLengthFor(uint64_t length) {
  int64_t pieceLength = 256 * 1024;
  constexpr int64_t kMaxPieceLength = 64LL * 1024 * 1024;
  while (pieceLength < kMaxPieceLength && length / static_cast<uint64_t>(pieceLength) > 1500) {
    pieceLength *= 2;
  }
  return pieceLength;
}

TorrentFile MakeTorrent(const Entry& entry, std::string_view announceUrl) {
  TorrentFile torrent;
  torrent.pieceLength = PieceLengthFor(entry.sizeBytes);
  const auto pieceLength = static_cast<uint64_t>(torrent.pieceLength);
  torrent.pieceCount = static_cast<int64_t>((entry.sizeBytes + pieceLength - 1) / pieceLength);

  std::string pieces;
  pieces.reserve(static_cast<size_t>(torrent.pieceCount) * 20);
  const std::string seed = "quillmere-demo-site:" + std::to_string(entry.id) + ":";
  for (int64_t i = 0; i < torrent.pieceCount; ++i) {
    pieces += Sha1(seed + std::to_string(i));
  }

  // Keys in each dictionary are in sorted (raw byte) order.
  std::string info = "d";
  BencodeString(info, "length");
  BencodeInteger(info, static_cast<int64_t>(entry.sizeBytes));
  BencodeString(info, "name");
  BencodeString(info, entry.fileName);
  BencodeString(info, "piece length");
  BencodeInteger(info, torrent.pieceLength);
  BencodeString(info, "pieces");
  BencodeString(info, pieces);
  info += 'e';
  torrent.infoHashHex = Hex(Sha1(info));

  std::string& out = torrent.bytes;
  out = "d";
  BencodeString(out, "announce");
  BencodeString(out, announceUrl);
  BencodeString(out, "comment");
  BencodeString(out, text::ToUtf8(entry.name));
  BencodeString(out, "created by");
  BencodeString(out, "quillmere-demo-site");
  BencodeString(out, "creation date");
  BencodeInteger(out, EpochSeconds(entry.added));
  BencodeString(out, "info");
  out += info;
  out += 'e';
  return torrent;
}

}  // namespace quillmere::demosite
