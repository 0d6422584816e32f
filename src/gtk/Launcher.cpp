#include "gtk/Launcher.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <vector>

#include "gtk/GObjectPtr.h"

namespace quillmere::gtk {

namespace {

constexpr char kTorrentType[] = "application/x-bittorrent";

GRefPtr<GAppLaunchContext> LaunchContext() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return {};
  return GRefPtr<GAppLaunchContext>::Adopt(G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)));
}

Handoff Launch(GAppInfo* app, const char* uri) {
  // The address goes to the application as a plain string: going through
  // GFile would rewrite "magnet:?" into "magnet:///?", which torrent clients
  // reject.
  GList uris = {const_cast<char*>(uri), nullptr, nullptr};
  GErrorPtr error;
  if (g_app_info_launch_uris(app, &uris, LaunchContext().get(), error.Out())) return {true, {}};
  return {false, error ? error.get()->message : "the application could not be started"};
}

}  // namespace

bool IsTorrentFile(const std::string& path) {
  std::vector<unsigned char> head(4096);
  size_t length = 0;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    length = std::fread(head.data(), 1, head.size(), file);
    std::fclose(file);
  }
  gboolean uncertain = FALSE;
  GCharPtr type(g_content_type_guess(path.c_str(), head.data(), length, &uncertain));
  return type && g_content_type_is_a(type.get(), kTorrentType);
}

Handoff GioLauncher::OpenTorrent(const std::string& path) {
  auto app = GRefPtr<GAppInfo>::Adopt(g_app_info_get_default_for_type(kTorrentType, FALSE));
  if (!app) return {false, "no application for torrent files is registered"};
  GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  if (!uri) return {false, "the file name cannot be made into an address"};
  return Launch(app.get(), uri.get());
}

Handoff GioLauncher::OpenUri(const std::string& uri) {
  GCharPtr scheme(g_uri_parse_scheme(uri.c_str()));
  if (!scheme) return {false, "the address has no scheme"};
  auto app = GRefPtr<GAppInfo>::Adopt(g_app_info_get_default_for_uri_scheme(scheme.get()));
  if (!app) return {false, std::string("no application for ") + scheme.get() + " links is registered"};
  return Launch(app.get(), uri.c_str());
}

void GioLauncher::Notify(const Notice& notice) {
  if (!app_ || !g_application_get_is_registered(app_) || !g_application_get_dbus_connection(app_)) return;
  auto notification = GRefPtr<GNotification>::Adopt(g_notification_new(notice.title.c_str()));
  g_notification_set_body(notification.get(), notice.body.c_str());
  if (!notice.folder.empty()) {
    g_notification_set_default_action_and_target(notification.get(), "app.open-folder", "s", notice.folder.c_str());
    g_notification_add_button_with_target(notification.get(), "Open Folder", "app.open-folder", "s",
                                          notice.folder.c_str());
  }
  g_application_send_notification(app_, notice.id.empty() ? nullptr : notice.id.c_str(), notification.get());
}

void GioLauncher::OpenFolder(const std::string& folder) {
  GCharPtr uri(g_filename_to_uri(folder.c_str(), nullptr, nullptr));
  if (!uri) return;
  GErrorPtr error;
  g_app_info_launch_default_for_uri(uri.get(), LaunchContext().get(), error.Out());
}

}  // namespace quillmere::gtk
