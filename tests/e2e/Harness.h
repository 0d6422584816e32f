// Helpers for driving the real program, whose header comes with them, on the
// GLib main loop.
#pragma once

#include <chrono>
#include <optional>
#include "gtk/Program.h"

namespace quillmere::e2e {

// Runs the main loop until `done` holds or the deadline passes; returns
// whether it held.
bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Runs the main loop for a while, for things that must not happen.
inline void SpinFor(std::chrono::milliseconds time) { SpinUntil([] { return false; }, time); }

// Runs `script` in the page of `view` and returns its value as text; nullopt
// when it threw or did not answer in time.
std::optional<std::string> Eval(WebKitWebView* view, const std::string& script);

// Waits until `view` has finished loading and `script` answers "true".
bool WaitForPage(WebKitWebView* view, const std::string& script,
                 std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Clicks with the real pointer, through the X server, the middle of the
// element that the script expression `element` yields in `view`, after
// raising its window and scrolling the element into sight. Returns the
// element's href (or "clicked" when it has none); "" when there is no such
// element. A click made so carries the user's gesture; a script's does not.
// `button` 3 is the right button.
std::string Click(WebKitWebView* view, const std::string& element, int button = 1);

// Moves the real pointer to `x`, `y` of `widget`, its middle when they are
// negative, after raising its window, and clicks `button` there unless it is
// 0. False when the widget is not on the screen.
bool PointAt(GtkWidget* widget, int button = 0, double x = -1, double y = -1);

// Hands what the program gives the desktop on through GIO, on the private
// desktop to its recording application, and keeps the notices as
// "title: body".
struct RecordingLauncher final : gtk::DesktopLauncher {
  gtk::Handoff OpenTorrent(const std::string& path) override { return gio.OpenTorrent(path); }
  gtk::Handoff OpenUri(const std::string& uri) override { return gio.OpenUri(uri); }
  void Notify(const gtk::Notice& notice) override { notices.push_back(notice.title + ": " + notice.body); }
  void OpenFolder(const std::string& folder) override { gio.OpenFolder(folder); }
  gtk::GioLauncher gio{nullptr};
  std::vector<std::string> notices;
};

}  // namespace quillmere::e2e
