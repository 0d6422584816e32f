// The site in use, kept in the program's settings (the key "site" of
// org.quillmere.Quillmere), or given for one run on the command line. A change
// to the setting, made here or by another process, applies from the next
// search on.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <optional>
#include <string>

#include "gtk/GObjectPtr.h"
#include "net/SiteAddress.h"

namespace quillmere::gtk {

inline constexpr char kSettingsSchema[] = "org.quillmere.Quillmere";

// The program's settings. The schema is looked for beside the program first
// (the build tree), then where the system keeps schemas; null when neither
// has it.
GRefPtr<GSettings> OpenSettings(const std::string& programFolder);

class SiteSetting {
 public:
  // The settings are opened from `programFolder` (OpenSettings). `forThisRun`,
  // from the command line, is the site until the setting changes while the
  // program runs.
  SiteSetting(const std::string& programFolder, std::optional<site::SiteAddress> forThisRun);
  ~SiteSetting();
  SiteSetting(const SiteSetting&) = delete;
  SiteSetting& operator=(const SiteSetting&) = delete;

  // Stores `address` as the site when it is accepted, and returns "";
  // otherwise stores nothing and returns why it was refused.
  std::string Store(const std::string& address);
  // Stores the address the program was built with.
  void Restore();
  // Adds the action "use-site" to `actions`: it stores the address it is
  // given (a string) as the site when it is accepted, and nothing otherwise.
  void AddUseSiteAction(GActionMap* actions);
  // The address as the setting holds it.
  std::string Stored() const;

  // Runs after the site in use has changed.
  void SetChangedHandler(std::function<void()> handler) { onChanged_ = std::move(handler); }

  // Null when no schema was found; the site then lasts for this run only.
  GSettings* Settings() const { return settings_.get(); }

 private:
  static void OnChanged(GSettings*, const char* key, gpointer self);
  void Use(const site::SiteAddress& address);

  GRefPtr<GSettings> settings_;
  gulong changedId_ = 0;
  std::string stored_;
  std::function<void()> onChanged_;
};

}  // namespace quillmere::gtk
