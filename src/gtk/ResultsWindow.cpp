// What a results window offers beside its page: finding text in it, zoom,
// going back and forward in its own history, and reloading, by the keys of
// the "Results windows" group of the shortcuts table, the mouse's back and
// forward buttons, and Ctrl with the scroll wheel.
#include <algorithm>
#include <memory>

#include "gtk/AppMenu.h"
#include "gtk/FindBar.h"
#include "gtk/Program.h"

namespace quillmere::gtk {

namespace {

// The state of one results window's keys, kept with its GtkWindow.
struct ResultsKeys {
  Program* program;
  std::weak_ptr<app::SearchForm> form;
  GRefPtr<GSimpleActionGroup> actions;
  std::unique_ptr<FindBar> find;
};

constexpr char kActionPrefix[] = "results";

void EnableCloseFind(ResultsKeys& keys, bool open) {
  GAction* close = g_action_map_lookup_action(G_ACTION_MAP(keys.actions.get()), "close-find");
  g_simple_action_set_enabled(G_SIMPLE_ACTION(close), open);
}

FindBar& Find(ResultsKeys& keys, app::SearchForm& form) {
  if (!keys.find) {
    // Made when it is first asked for: most windows never need one.
    keys.find = std::make_unique<FindBar>(Program::ViewOf(form.WB2()),
                                          [&keys](bool open) { EnableCloseFind(keys, open); });
    static_cast<WindowAdapter&>(form.Form()).AddAboveView(keys.find->Widget());
  }
  return *keys.find;
}

// Runs `what` with the window's form, while it lives.
template <typename What>
void WithForm(gpointer data, What what) {
  auto* keys = static_cast<ResultsKeys*>(data);
  if (std::shared_ptr<app::SearchForm> form = keys->form.lock()) what(*keys, *form);
}

void Activated(GSimpleAction* action, GVariant*, gpointer data) {
  const std::string name = g_action_get_name(G_ACTION(action));
  WithForm(data, [&](ResultsKeys& keys, app::SearchForm& form) {
    auto& view = static_cast<WebViewAdapter&>(form.WB2());
    if (name == "find") Find(keys, form).Open();
    if (name == "find-next") Find(keys, form).Next();
    if (name == "find-previous") Find(keys, form).Previous();
    if (name == "close-find" && keys.find) keys.find->Close();
    if (name == "zoom-in") keys.program->Zoom().Step(1);
    if (name == "zoom-out") keys.program->Zoom().Step(-1);
    if (name == "zoom-reset") keys.program->Zoom().Step(0);
    // A page loaded while a fetch runs would be decided on by no handler.
    if (FetchGate::Instance().Running()) return;
    if (name == "back") view.GoInHistory(-1);
    if (name == "forward") view.GoInHistory(1);
    if (name == "reload") keys.program->Reload(form);
  });
}

gboolean OnButton(GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
  const GdkEventType type = gdk_event_get_event_type(event);
  if (type != GDK_BUTTON_PRESS && type != GDK_BUTTON_RELEASE) return FALSE;
  const guint button = gdk_button_event_get_button(event);
  // Buttons 8 and 9 are the mouse's back and forward buttons.
  if (button != 8 && button != 9) return FALSE;
  if (type == GDK_BUTTON_PRESS) {
    auto* keys = static_cast<ResultsKeys*>(data);
    g_action_group_activate_action(G_ACTION_GROUP(keys->actions.get()), button == 8 ? "back" : "forward", nullptr);
  }
  return TRUE;
}

gboolean OnScroll(GtkEventControllerScroll* scroll, double, double dy, gpointer data) {
  if (!(gtk_event_controller_get_current_event_state(GTK_EVENT_CONTROLLER(scroll)) & GDK_CONTROL_MASK)) return FALSE;
  if (dy == 0) return TRUE;
  auto* keys = static_cast<ResultsKeys*>(data);
  keys->program->Zoom().Step(dy < 0 ? 1 : -1);
  return TRUE;
}

}  // namespace

void Program::AttachResultsKeys(const std::shared_ptr<app::SearchForm>& form) {
  auto* keys = new ResultsKeys{this, form, GRefPtr<GSimpleActionGroup>::Adopt(g_simple_action_group_new()), nullptr};
  GtkWidget* window = GTK_WIDGET(WindowOf(form->Form()));
  g_object_set_data_full(G_OBJECT(window), "quillmere-results-keys", keys,
                         [](gpointer data) { delete static_cast<ResultsKeys*>(data); });
  GtkShortcutController* shortcuts = GTK_SHORTCUT_CONTROLLER(gtk_shortcut_controller_new());
  // Ahead of the page, which would otherwise take the keys first.
  gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(shortcuts), GTK_PHASE_CAPTURE);
  const std::string prefix = std::string(kActionPrefix) + ".";
  for (const Shortcut& shortcut : Shortcuts()) {
    if (!shortcut.action || !g_str_has_prefix(shortcut.action, prefix.c_str())) continue;
    GSimpleAction* action = g_simple_action_new(shortcut.action + prefix.size(), nullptr);
    g_signal_connect(action, "activate", G_CALLBACK(Activated), keys);
    g_action_map_add_action(G_ACTION_MAP(keys->actions.get()), G_ACTION(action));
    g_object_unref(action);
    // The table lists a key's alternatives with spaces between them.
    std::string triggers = shortcut.accelerator;
    std::replace(triggers.begin(), triggers.end(), ' ', '|');
    gtk_shortcut_controller_add_shortcut(
        shortcuts, gtk_shortcut_new(gtk_shortcut_trigger_parse_string(triggers.c_str()),
                                    gtk_named_action_new(shortcut.action)));
  }
  EnableCloseFind(*keys, false);
  gtk_widget_insert_action_group(window, kActionPrefix, G_ACTION_GROUP(keys->actions.get()));
  gtk_widget_add_controller(window, GTK_EVENT_CONTROLLER(shortcuts));

  GtkEventController* buttons = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(buttons, GTK_PHASE_CAPTURE);
  g_signal_connect(buttons, "event", G_CALLBACK(OnButton), keys);
  gtk_widget_add_controller(window, buttons);
  GtkEventController* scroll = gtk_event_controller_scroll_new(
      static_cast<GtkEventControllerScrollFlags>(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL | GTK_EVENT_CONTROLLER_SCROLL_DISCRETE));
  gtk_event_controller_set_propagation_phase(scroll, GTK_PHASE_CAPTURE);
  g_signal_connect(scroll, "scroll", G_CALLBACK(OnScroll), keys);
  gtk_widget_add_controller(window, scroll);
}

void Program::Reload(app::SearchForm& form) {
  // A page the view loaded itself is the view's to reload.
  if (static_cast<WebViewAdapter&>(form.WB2()).ReloadLoadedPage()) return;
  // The window's notice says meanwhile that it is searching, and afterwards
  // why the fetch failed, above the page, which stays.
  const auto it = std::find_if(results_.begin(), results_.end(), [&form](const auto& f) { return f.get() == &form; });
  if (it == results_.end()) return;
  std::weak_ptr<app::SearchForm> weak = *it;
  form.Reload([this, weak](auto&&... args) { return FetchFor(weak, args...); });
}

}  // namespace quillmere::gtk
