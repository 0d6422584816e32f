#include "gtk/Launcher.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include "gtk/GObjectPtr.h"

namespace quillmere::gtk {

namespace {

GRefPtr<GAppLaunchContext> LaunchContext() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return {};
  return GRefPtr<GAppLaunchContext>::Adopt(G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)));
}

}  // namespace

void GioLauncher::OpenFile(const std::string& path) {
  GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  if (!uri) return;
  GErrorPtr error;
  g_app_info_launch_default_for_uri(uri.get(), LaunchContext().get(), error.Out());
}

void GioLauncher::OpenUri(const std::string& uri) {
  GCharPtr scheme(g_uri_parse_scheme(uri.c_str()));
  if (!scheme) return;
  auto app = GRefPtr<GAppInfo>::Adopt(g_app_info_get_default_for_uri_scheme(scheme.get()));
  if (!app) return;
  // The address goes to the handler as a plain string: going through GFile
  // would rewrite "magnet:?" into "magnet:///?", which torrent clients reject.
  GList uris = {const_cast<char*>(uri.c_str()), nullptr, nullptr};
  GErrorPtr error;
  g_app_info_launch_uris(app.get(), &uris, LaunchContext().get(), error.Out());
}

}  // namespace quillmere::gtk
