// The find bar of a results window: a search bar above the view that finds
// text in its page, regardless of letter case and wrapping at the end, and
// says which match is shown of how many.
#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <functional>
#include <string>
#include <vector>

#include "app/FindCount.h"
#include "gtk/GObjectPtr.h"

namespace quillmere::gtk {

class FindBar {
 public:
  // `onOpen` runs whenever the bar is shown or hidden.
  FindBar(WebKitWebView* view, std::function<void(bool open)> onOpen);
  ~FindBar();
  FindBar(const FindBar&) = delete;
  FindBar& operator=(const FindBar&) = delete;

  // The bar, to be put above the view; owned by its parent from then on.
  GtkWidget* Widget() const { return bar_.get(); }
  // Shows the bar with its text selected, ready to type over.
  void Open();
  void Close();
  bool IsOpen() const;
  // The next or previous match, wrapping; opens the bar if it is hidden.
  void Next();
  void Previous();

 private:
  static void OnSearchChanged(GtkSearchEntry* entry, gpointer self);
  static void OnFound(WebKitFindController*, guint count, gpointer self);
  static void OnNotFound(WebKitFindController*, gpointer self);
  static void OnModeChanged(GObject*, GParamSpec*, gpointer self);
  void Step(int direction);
  void ShowStatus();

  // Held, so that the bar can go before or after the view and the window.
  GRefPtr<WebKitWebView> view_;
  GRefPtr<WebKitFindController> finder_;
  std::function<void(bool)> onOpen_;
  GRefPtr<GtkWidget> bar_;
  GRefPtr<GtkWidget> entry_;
  // Owned by the bar and the entry.
  GtkWidget* status_;
  GtkWidget* previous_;
  GtkWidget* next_;
  GtkEventController* keys_;
  std::vector<gulong> finderSignals_;
  app::FindCount count_;
};

}  // namespace quillmere::gtk
