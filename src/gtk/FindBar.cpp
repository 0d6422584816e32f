#include "gtk/FindBar.h"

#include <string>

namespace quillmere::gtk {

namespace {

constexpr guint32 kFindOptions = WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE | WEBKIT_FIND_OPTIONS_WRAP_AROUND;

}  // namespace

FindBar::FindBar(WebKitWebView* view, std::function<void(bool)> onOpen)
    : view_(GRefPtr<WebKitWebView>::Ref(view)),
      finder_(GRefPtr<WebKitFindController>::Ref(webkit_web_view_get_find_controller(view))),
      onOpen_(std::move(onOpen)),
      bar_(GRefPtr<GtkWidget>::Ref(gtk_search_bar_new())),
      entry_(GRefPtr<GtkWidget>::Ref(gtk_search_entry_new())) {
  GtkWidget* bar = bar_.get();
  GtkWidget* entry = entry_.get();
  gtk_search_bar_set_show_close_button(GTK_SEARCH_BAR(bar), TRUE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_size_request(entry, 240, -1);
  g_object_set(entry, "placeholder-text", "Find in page", nullptr);
  status_ = gtk_label_new(nullptr);
  gtk_widget_set_name(status_, "find-status");
  gtk_accessible_update_relation(GTK_ACCESSIBLE(entry), GTK_ACCESSIBLE_RELATION_DESCRIBED_BY, status_, nullptr, -1);
  GtkWidget* previous = previous_ = gtk_button_new_from_icon_name("go-up-symbolic");
  gtk_widget_set_tooltip_text(previous, "Previous Match");
  GtkWidget* next = next_ = gtk_button_new_from_icon_name("go-down-symbolic");
  gtk_widget_set_tooltip_text(next, "Next Match");
  gtk_box_append(GTK_BOX(box), entry);
  gtk_box_append(GTK_BOX(box), previous);
  gtk_box_append(GTK_BOX(box), next);
  gtk_box_append(GTK_BOX(box), status_);
  gtk_search_bar_set_child(GTK_SEARCH_BAR(bar), box);
  gtk_search_bar_connect_entry(GTK_SEARCH_BAR(bar), GTK_EDITABLE(entry));

  g_signal_connect(entry, "search-changed", G_CALLBACK(OnSearchChanged), this);
  g_signal_connect_swapped(entry, "activate", G_CALLBACK(+[](FindBar* self) { self->Step(1); }), this);
  g_signal_connect_swapped(next, "clicked", G_CALLBACK(+[](FindBar* self) { self->Step(1); }), this);
  g_signal_connect_swapped(previous, "clicked", G_CALLBACK(+[](FindBar* self) { self->Step(-1); }), this);
  // Shift+Enter goes back, as Enter goes on.
  GtkEventController* keys = keys_ = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(+[](GtkEventControllerKey*, guint key, guint, GdkModifierType state,
                                                       gpointer self) -> gboolean {
    const bool enter = key == GDK_KEY_Return || key == GDK_KEY_KP_Enter || key == GDK_KEY_ISO_Enter;
    if (!enter || !(state & GDK_SHIFT_MASK)) return FALSE;
    static_cast<FindBar*>(self)->Step(-1);
    return TRUE;
  }), this);
  gtk_widget_add_controller(entry, keys);
  g_signal_connect(bar, "notify::search-mode-enabled", G_CALLBACK(OnModeChanged), this);

  finderSignals_ = {g_signal_connect(finder_.get(), "found-text", G_CALLBACK(OnFound), this),
                    g_signal_connect(finder_.get(), "failed-to-find-text", G_CALLBACK(OnNotFound), this)};
}

FindBar::~FindBar() {
  for (gulong id : finderSignals_) g_signal_handler_disconnect(finder_.get(), id);
  for (gpointer widget : {gpointer(bar_.get()), gpointer(entry_.get()), gpointer(previous_), gpointer(next_), gpointer(keys_)})
    g_signal_handlers_disconnect_by_data(widget, this);
}

void FindBar::Open() {
  gtk_search_bar_set_search_mode(GTK_SEARCH_BAR(bar_.get()), TRUE);
  gtk_widget_grab_focus(entry_.get());
  gtk_editable_select_region(GTK_EDITABLE(entry_.get()), 0, -1);
}

void FindBar::Close() { gtk_search_bar_set_search_mode(GTK_SEARCH_BAR(bar_.get()), FALSE); }

bool FindBar::IsOpen() const { return gtk_search_bar_get_search_mode(GTK_SEARCH_BAR(bar_.get())); }

void FindBar::Next() { Step(1); }

void FindBar::Previous() { Step(-1); }

void FindBar::Step(int direction) {
  if (!IsOpen()) Open();
  if (!count_.Step(direction)) return;
  if (direction > 0) {
    webkit_find_controller_search_next(finder_.get());
  } else {
    webkit_find_controller_search_previous(finder_.get());
  }
  ShowStatus();
}

void FindBar::OnSearchChanged(GtkSearchEntry* entry, gpointer data) {
  auto* self = static_cast<FindBar*>(data);
  const char* text = gtk_editable_get_text(GTK_EDITABLE(entry));
  const bool searched = text && *text;
  self->count_.Start(searched);
  if (!searched) {
    webkit_find_controller_search_finish(self->finder_.get());
    self->ShowStatus();
    return;
  }
  webkit_find_controller_search(self->finder_.get(), text, kFindOptions, G_MAXUINT);
}

void FindBar::OnFound(WebKitFindController*, guint count, gpointer data) {
  auto* self = static_cast<FindBar*>(data);
  self->count_.Found(count);
  self->ShowStatus();
}

void FindBar::OnNotFound(WebKitFindController*, gpointer data) {
  auto* self = static_cast<FindBar*>(data);
  self->count_.NotFound();
  self->ShowStatus();
}

void FindBar::OnModeChanged(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<FindBar*>(data);
  const bool open = self->IsOpen();
  if (!open) {
    webkit_find_controller_search_finish(self->finder_.get());
    gtk_widget_grab_focus(GTK_WIDGET(self->view_.get()));
  }
  if (self->onOpen_) self->onOpen_(open);
}

void FindBar::ShowStatus() { gtk_label_set_text(GTK_LABEL(status_), count_.Text().c_str()); }

}  // namespace quillmere::gtk
