// Helpers for driving the real program on the GLib main loop.
#pragma once

#include <webkit/webkit.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace quillmere::e2e {

// Runs the main loop until `done` holds or the deadline passes; returns
// whether it held.
bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Runs the main loop for a while, for things that must not happen.
void SpinFor(std::chrono::milliseconds time);

// Runs `script` in the page of `view` and returns its value as text; nullopt
// when it threw or did not answer in time.
std::optional<std::string> Eval(WebKitWebView* view, const std::string& script);

// Waits until `view` has finished loading and `script` answers "true".
bool WaitForPage(WebKitWebView* view, const std::string& script,
                 std::chrono::milliseconds deadline = std::chrono::seconds(30));

}  // namespace quillmere::e2e
