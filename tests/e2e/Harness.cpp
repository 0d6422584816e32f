#include "Harness.h"

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
  struct Call {
    bool done = false;
    std::optional<std::string> result;
  };
  auto call = std::make_shared<Call>();
  // The shared state outlives a call that times out.
  auto* holder = new std::shared_ptr<Call>(call);
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        std::unique_ptr<std::shared_ptr<Call>> state(static_cast<std::shared_ptr<Call>*>(data));
        gtk::GErrorPtr error;
        auto value = gtk::GRefPtr<JSCValue>::Adopt(
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, error.Out()));
        if (value && !error) {
          gtk::GCharPtr text(jsc_value_to_string(value.get()));
          (*state)->result = text ? text.get() : "";
        }
        (*state)->done = true;
      },
      holder);
  SpinUntil([&] { return call->done; }, std::chrono::seconds(20));
  return call->result;
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
