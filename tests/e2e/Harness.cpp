#include "Harness.h"

#include <gdk/x11/gdkx.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

namespace quillmere::e2e {

bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  for (const auto end = std::chrono::steady_clock::now() + deadline; !done();) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::optional<std::string> Eval(WebKitWebView* view, const std::string& script) {
  // Set once the page has answered. It is shared with the callback, which may
  // still come after a call that has given up waiting.
  auto answer = std::make_shared<std::optional<std::optional<std::string>>>();
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        std::unique_ptr<decltype(answer)> shared(static_cast<decltype(answer)*>(data));
        gtk::GErrorPtr error;
        auto value = gtk::GRefPtr<JSCValue>::Adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, error.Out()));
        gtk::GCharPtr text(value && !error ? jsc_value_to_string(value.get()) : nullptr);
        **shared = text ? std::optional<std::string>(text.get()) : std::nullopt;
      },
      new decltype(answer)(answer));
  SpinUntil([&] { return answer->has_value(); }, std::chrono::seconds(20));
  return answer->value_or(std::nullopt);
}

bool WaitForPage(WebKitWebView* view, const std::string& script, std::chrono::milliseconds deadline) {
  return SpinUntil([&] {
    const bool ready = !webkit_web_view_is_loading(view) && Eval(view, "String(!!(" + script + "))") == "true";
    if (!ready) SpinFor(std::chrono::milliseconds(50));
    return ready;
  }, deadline);
}

std::string Click(WebKitWebView* view, const std::string& element, int button) {
  const std::optional<std::string> where = Eval(
      view, "(function () { var e = " + element + "; if (!e) return ''; e.scrollIntoView({block: 'center'});"
            // A link that wraps has several boxes, and the middle of all of
            // them together may be no part of it.
            " var r = e.getClientRects()[0] || e.getBoundingClientRect(); return Math.round(r.left + r.width / 2) + ' ' +"
            " Math.round(r.top + r.height / 2) + ' ' + (e.href || 'clicked'); })()");
  std::istringstream in(where.value_or(""));
  double x = 0, y = 0;
  std::string href;
  return in >> x >> y >> href && PointAt(GTK_WIDGET(view), button, x, y) ? href : "";
}

bool PointAt(GtkWidget* widget, int button, double x, double y) {
  GtkNative* native = gtk_widget_get_native(widget);
  graphene_point_t at, point = GRAPHENE_POINT_INIT(static_cast<float>(x < 0 ? gtk_widget_get_width(widget) / 2.0 : x),
                                                   static_cast<float>(y < 0 ? gtk_widget_get_height(widget) / 2.0 : y));
  if (!native || !gtk_widget_compute_point(widget, GTK_WIDGET(native), &point, &at)) return false;
  double sx = 0, sy = 0;
  gtk_native_get_surface_transform(native, &sx, &sy);
  const std::string xid = std::to_string(gdk_x11_surface_get_xid(gtk_native_get_surface(native)));
  const std::string command = "xdotool windowraise " + xid + " sleep 0.05 mousemove --window " + xid + " " +
                              std::to_string(static_cast<int>(sx + at.x)) + " " + std::to_string(static_cast<int>(sy + at.y)) +
                              (button ? " click " + std::to_string(button) : "");
  return std::system(command.c_str()) == 0;
}

}  // namespace quillmere::e2e
