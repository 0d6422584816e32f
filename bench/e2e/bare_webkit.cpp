// The least a WebKitGTK program does to show a page, as the end-to-end
// benchmark's baseline:
//   quillmere-bare-webkit --start FILE   one window loading FILE; prints the
//                                        monotonic clock in ns when it has loaded
//   quillmere-bare-webkit --windows      every address read from standard input,
//                                        one a line, into a new window whose view
//                                        is related to one hidden view
#include <gtk/gtk.h>
#include <time.h>
#include <webkit/webkit.h>

#include <cstdio>
#include <cstring>

namespace {

bool g_done = false;

// At the size of the program's window of the same use.
void ShowInNewWindow(WebKitWebView* view, const char* uri, int width, int height) {
  GtkWidget* window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(window), uri);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view));
  webkit_web_view_load_uri(view, uri);
  gtk_window_present(GTK_WINDOW(window));
}

void OnLoaded(WebKitWebView*, WebKitLoadEvent event, gpointer) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  g_done = true;
}

gboolean OnLine(GIOChannel* in, GIOCondition, gpointer seed) {
  char* line = nullptr;
  if (g_io_channel_read_line(in, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
    g_done = true;
    return G_SOURCE_REMOVE;
  }
  g_strstrip(line);
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", seed, nullptr));
  ShowInNewWindow(view, line, 701, 480);
  g_free(line);
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init();
  if (argc == 3 && std::strcmp(argv[1], "--start") == 0) {
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoaded), nullptr);
    GFile* file = g_file_new_for_commandline_arg(argv[2]);
    char* uri = g_file_get_uri(file);
    ShowInNewWindow(view, uri, 592, 196);
    g_free(uri);
    g_object_unref(file);
  } else if (argc == 2 && std::strcmp(argv[1], "--windows") == 0) {
    auto* seed = WEBKIT_WEB_VIEW(g_object_ref_sink(webkit_web_view_new()));
    g_io_add_watch(g_io_channel_unix_new(0), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), OnLine, seed);
  } else {
    std::fprintf(stderr, "usage: %s --start FILE | --windows\n", argv[0]);
    return 2;
  }
  while (!g_done) g_main_context_iteration(nullptr, TRUE);
  return 0;
}
