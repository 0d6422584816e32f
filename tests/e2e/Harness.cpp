#include "Harness.h"

#include <memory>
#include <thread>

#include "gtk/GObjectPtr.h"

namespace quillmere::e2e {

using Clock = std::chrono::steady_clock;

bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (!done()) {
    if (Clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void SpinFor(std::chrono::milliseconds time) {
  SpinUntil([] { return false; }, time);
}

std::optional<std::string> Eval(WebKitWebView* view, const std::string& script) {
  // Set once the page has answered. It is shared with the callback, which may
  // still come after a call that has given up waiting.
  using Answer = std::optional<std::optional<std::string>>;
  auto answer = std::make_shared<Answer>();
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        std::unique_ptr<std::shared_ptr<Answer>> answer(static_cast<std::shared_ptr<Answer>*>(data));
        gtk::GErrorPtr error;
        auto value = gtk::GRefPtr<JSCValue>::Adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, error.Out()));
        gtk::GCharPtr text(value && !error ? jsc_value_to_string(value.get()) : nullptr);
        **answer = text ? std::optional<std::string>(text.get()) : std::nullopt;
      },
      new std::shared_ptr<Answer>(answer));
  SpinUntil([&] { return answer->has_value(); }, std::chrono::seconds(20));
  return answer->value_or(std::nullopt);
}

bool WaitForPage(WebKitWebView* view, const std::string& script, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (Clock::now() < end) {
    if (!webkit_web_view_is_loading(view) && Eval(view, "String(!!(" + script + "))") == std::string("true"))
      return true;
    SpinFor(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace quillmere::e2e
