// Hands files and addresses to the desktop's applications, and tells the user
// what became of a download. Tests put a recorder in its place.
#pragma once

#include <gio/gio.h>

#include <string>

#include "app/Downloads.h"

namespace quillmere::gtk {

// The outcome of a hand-off: whether an application took it, and if not, why
// (the launch's own error, or that none is registered).
struct Handoff {
  bool launched = false;
  std::string error;
};

using app::Notice;

class DesktopLauncher {
 public:
  virtual ~DesktopLauncher() = default;
  // Hands a downloaded torrent file to the default application for
  // application/x-bittorrent, never to whatever opens its file type.
  virtual Handoff OpenTorrent(const std::string& path) = 0;
  // Hands a magnet: address to that scheme's handler, exactly as written.
  virtual Handoff OpenUri(const std::string& uri) = 0;
  virtual void Notify(const Notice& notice) = 0;
  virtual void OpenFolder(const std::string& folder) = 0;
};

// Whether GIO takes the saved file at `path`, judged from its name and its
// first bytes, for a torrent file. The server's Content-Type plays no part.
bool IsTorrentFile(const std::string& path);

// Through GIO's default applications, and notifications through `app` (none
// when it is null or not registered on the session bus).
class GioLauncher final : public DesktopLauncher {
 public:
  explicit GioLauncher(GApplication* app) : app_(app) {}
  Handoff OpenTorrent(const std::string& path) override;
  Handoff OpenUri(const std::string& uri) override;
  void Notify(const Notice& notice) override;
  void OpenFolder(const std::string& folder) override;

 private:
  GApplication* app_;
};

}  // namespace quillmere::gtk
