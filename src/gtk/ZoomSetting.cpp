#include "gtk/ZoomSetting.h"

#include <algorithm>

#include "app/Zoom.h"
#include "gtk/SiteSetting.h"

namespace quillmere::gtk {

namespace {

constexpr char kZoomKey[] = "zoom";

}  // namespace

ZoomSetting::ZoomSetting(const std::string& programFolder)
    : settings_(OpenSettings(programFolder)), level_(app::kDefaultZoom) {
  if (!settings_) return;
  level_ = g_settings_get_double(settings_.get(), kZoomKey);
  changedId_ = g_signal_connect(settings_.get(), "changed::zoom", G_CALLBACK(OnChanged), this);
}

ZoomSetting::~ZoomSetting() {
  if (changedId_) g_signal_handler_disconnect(settings_.get(), changedId_);
  for (WebKitWebView* view : views_) g_object_weak_unref(G_OBJECT(view), OnViewGone, this);
}

void ZoomSetting::Follow(WebKitWebView* view) {
  webkit_web_view_set_zoom_level(view, level_);
  views_.push_back(view);
  g_object_weak_ref(G_OBJECT(view), OnViewGone, this);
}

void ZoomSetting::OnViewGone(gpointer data, GObject* gone) {
  std::erase(static_cast<ZoomSetting*>(data)->views_, reinterpret_cast<WebKitWebView*>(gone));
}

void ZoomSetting::Step(int direction) {
  const double level = app::StepZoom(level_, direction);
  // The change comes back through OnChanged, as one made elsewhere does.
  if (settings_) {
    g_settings_set_double(settings_.get(), kZoomKey, level);
  } else {
    Apply(level);
  }
}

void ZoomSetting::OnChanged(GSettings* settings, const char*, gpointer data) {
  static_cast<ZoomSetting*>(data)->Apply(g_settings_get_double(settings, kZoomKey));
}

void ZoomSetting::Apply(double level) {
  level_ = level;
  for (WebKitWebView* view : views_) webkit_web_view_set_zoom_level(view, level);
}

}  // namespace quillmere::gtk
