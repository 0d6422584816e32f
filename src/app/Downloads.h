// Where a download is saved: the folder, and a file name that is safe to
// create there and never overwrites a file that is already there; and what
// the user is told once it has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere::app {

// The longest name a download may have, in bytes. The usual Linux file
// systems take 255, and WebKit first writes the file as "<name>.wkdownload",
// whose 11 more bytes must fit too.
inline constexpr size_t kMaxFileNameBytes = 244;

// The name used when a server suggests nothing usable.
inline constexpr std::string_view kFallbackDownloadName = "download";

// Makes a server's suggested file name (UTF-8) safe to create in a folder:
// path separators and control characters become "_", surrounding blanks go,
// the names "", "." and ".." become "download", and the name is cut to at
// most kMaxFileNameBytes on a character boundary, keeping its extension.
std::string SafeDownloadName(std::string_view suggested);

// The folder that downloads go to: the XDG_DOWNLOAD_DIR given in the
// environment, else the one from the user's XDG folder settings, else
// "Downloads" in the home folder. Empty values count as unset.
std::string DownloadFolder(const std::optional<std::string>& environmentDir,
                           const std::optional<std::string>& settingsDir, const std::string& homeDir);

// How many numbered names are tried before a download is given up.
inline constexpr unsigned kMaxNumberedNames = 9999;

// The path in `folder` under which to save a file named `name` (already made
// safe): the name itself when `exists` says it is free, else "name (1).ext",
// "name (2).ext" and so on, each kept within kMaxFileNameBytes; empty when every
// numbered name up to kMaxNumberedNames is taken.
std::string UniqueDownloadPath(const std::string& folder, const std::string& name,
                               const std::function<bool(const std::string& path)>& exists);

// What the user is told once a download or a hand-off has ended: the
// notification's id (a later one with the same id replaces it), its title and
// text, and the folder its action opens, none when empty.
struct Notice {
  std::string id;
  std::string title;
  std::string body;
  std::string folder;
};

// A download saved at `path`. Only a torrent goes to an application: `opened`
// says whether the torrent application took it, `error` why not.
Notice SavedNotice(const std::string& path, bool torrent, bool opened, const std::string& error);
// A download that could not be saved at `path` (empty when it never had one).
Notice FailedNotice(const std::string& path, const std::string& error);
// A magnet link that no application took.
Notice MagnetNotice(const std::string& error);

// The largest download, in bytes. A torrent file is never that large: what
// grows past it is stopped, removed and handed to no one.
inline constexpr uint64_t kMaxDownloadBytes = uint64_t{100} * 1024 * 1024;
// A download stopped at that size.
Notice TooLargeNotice();
// `count` hand-offs or downloads that one action of the user's set off after
// its first, refused.
Notice RefusedNotice(int count);

// What one action of the user's (a real click or key press) may set off: one
// hand-off to the desktop (a magnet link) or one download, whichever comes
// first. A page that answers a click by clicking many links itself gets the
// first; the rest are refused and counted, until the next action.
class ActionBudget {
 public:
  // A new action of the user's.
  void Grant() { available_ = true, refused_ = 0; }
  // Whether a hand-off or download may go ahead; true at most once per action.
  bool Spend() {
    if (available_) return !(available_ = false);
    ++refused_;
    return false;
  }
  // How many were refused since the last action.
  int Refused() const { return refused_; }

 private:
  bool available_ = false;
  int refused_ = 0;
};

}  // namespace quillmere::app
