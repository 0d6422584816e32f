#include "Harness.h"

#include <memory>
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

}  // namespace quillmere::e2e
