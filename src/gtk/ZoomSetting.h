// The zoom of every results page, kept in the program's settings (the key
// "zoom" of org.quillmere.Quillmere): a change made in one results window, or
// by another process, applies to every results window, open or opened later.
#pragma once

#include <gio/gio.h>
#include <webkit/webkit.h>

#include <string>
#include <vector>

#include "gtk/GObjectPtr.h"

namespace quillmere::gtk {

class ZoomSetting {
 public:
  // Without a settings schema the level lasts for this run only.
  explicit ZoomSetting(const std::string& programFolder);
  ~ZoomSetting();
  ZoomSetting(const ZoomSetting&) = delete;
  ZoomSetting& operator=(const ZoomSetting&) = delete;

  // Gives `view` the level now and whenever it changes, for as long as the
  // view lives.
  void Follow(WebKitWebView* view);
  // One step larger (`direction` > 0), smaller (< 0), or back to normal (0).
  void Step(int direction);
  double Level() const { return level_; }

 private:
  static void OnChanged(GSettings*, const char*, gpointer self);
  static void OnViewGone(gpointer self, GObject* gone);
  void Apply(double level);

  GRefPtr<GSettings> settings_;
  gulong changedId_ = 0;
  double level_;
  std::vector<WebKitWebView*> views_;  // not owned; each leaves when finalized
};

}  // namespace quillmere::gtk
