// The spare results window. Making a window, its view and the view's page in
// the web process costs a search most of its time when it happens on the
// way; a spare made ahead of time is only shown. The window logic does not
// see the difference: the window it is given has never been shown.
#include "gtk/Program.h"

namespace quillmere::gtk {

namespace {

// How long after a window has been handed over the next spare is made: long
// enough for the page written into that window to have reached the web
// process, which the new spare's page would otherwise hold up.
constexpr guint kNextSpareDelayMs = 250;

}  // namespace

void Program::MakeSpareAfterStartPage() {
  // The start page comes first: the results' web process starts for the
  // first spare, and would slow down start-up if it competed with it.
  WebKitWebView* view = ViewOf(main_->WB());
  const gulong loaded = g_signal_connect(
      view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        if (event != WEBKIT_LOAD_FINISHED) return;
        auto* self = static_cast<Program*>(data);
        self->startPageLoaded_.reset();
        self->MakeSpareLater(0);
      }),
      this);
  startPageLoaded_.emplace(view, loaded);
  if (!app_) return;
  // The spare joins the application only when it is handed over: before
  // that it would be the application's newest window, the one that Ctrl+W
  // closes, and it must not keep the program running once the user has
  // closed every window they see.
  const gulong removed = g_signal_connect(
      app_, "window-removed", G_CALLBACK(+[](GtkApplication* app, GtkWindow*, gpointer data) {
        if (!gtk_application_get_windows(app)) static_cast<Program*>(data)->DropSpare();
      }),
      this);
  windowRemoved_.emplace(app_, removed);
}

void Program::MakeNextSpare() { MakeSpareLater(kNextSpareDelayMs); }

void Program::MakeSpareLater(guint delayMs) {
  if (spare_ || spareSource_.get()) return;
  // At idle priority, after the windows have been drawn.
  spareSource_ = GSourceId(g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, delayMs, MakeSpare, this, nullptr));
}

gboolean Program::MakeSpare(gpointer data) {
  auto* self = static_cast<Program*>(data);
  self->spareSource_.forget();
  const bool anyShown = self->app_ ? gtk_application_get_windows(self->app_) != nullptr : self->OpenWindowCount() > 0;
  if (self->spare_ || !anyShown) return G_SOURCE_REMOVE;
  ResultsParts spare = self->MakeResultsParts(nullptr);
  spare.parts.view->Navigate2(u"about:blank");
  spare.window->Realize();
  self->spare_ = std::move(spare);
  return G_SOURCE_REMOVE;
}

std::optional<Program::ResultsParts> Program::TakeSpare() {
  std::optional<ResultsParts> spare = std::move(spare_);
  spare_.reset();
  spareSource_.reset();
  return spare;
}

void Program::DropSpare() {
  // Taken out first: destroying its window raises "window-removed" again.
  std::optional<ResultsParts> spare = TakeSpare();
}

}  // namespace quillmere::gtk
