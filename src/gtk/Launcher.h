// Hands files and addresses to the desktop's default applications. Tests put
// a recorder in its place.
#pragma once

#include <string>

namespace quillmere::gtk {

class DesktopLauncher {
 public:
  virtual ~DesktopLauncher() = default;
  // Opens a downloaded file with the default application for its type.
  virtual void OpenFile(const std::string& path) = 0;
  // Hands an address of a scheme that the view does not load (magnet:) to
  // that scheme's default handler, exactly as written.
  virtual void OpenUri(const std::string& uri) = 0;
};

// Through GIO's default applications. Failures are silent: the program shows
// no dialogs of its own.
class GioLauncher final : public DesktopLauncher {
 public:
  void OpenFile(const std::string& path) override;
  void OpenUri(const std::string& uri) override;
};

}  // namespace quillmere::gtk
