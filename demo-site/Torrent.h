// The .torrent files that download.asp hands out: bencoded metainfo with a
// real info dictionary for each catalogue entry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Catalogue.h"

namespace quillmere::demosite {

// Appends bencoded values to `out`. Dictionaries are written by the caller,
// which keeps their keys in sorted order as the format requires.
void BencodeString(std::string& out, std::string_view bytes);
void BencodeInteger(std::string& out, int64_t value);

// SHA-1 of `bytes`, 20 raw bytes.
std::string Sha1(std::string_view bytes);

struct TorrentFile {
  std::string bytes;        // the whole bencoded file
  std::string infoHashHex;  // SHA-1 of the bencoded info dictionary, lower-case hex
  int64_t pieceLength = 0;
  int64_t pieceCount = 0;
};

// The piece length chosen for a payload of `length` bytes: a power of two from
// 256 KiB up that keeps the piece list to about 1500 hashes.
int64_t PieceLengthFor(uint64_t length);

// Metainfo for one entry. The payload does not exist, so the piece hashes are
// SHA-1 digests of a deterministic stand-in for each piece: the same entry
// always gives the same file and the same info hash.
TorrentFile MakeTorrent(const Entry& entry, std::string_view announceUrl);

}  // namespace quillmere::demosite
