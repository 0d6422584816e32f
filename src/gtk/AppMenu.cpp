#include "gtk/AppMenu.h"

#include <adwaita.h>

#include <string>

#include "BuildConfig.h"
#include "net/Site.h"

namespace quillmere::gtk {

namespace {

const Shortcut kShortcuts[] = {
    {"General", "<Control>comma", "Preferences", "app.preferences"},
    {"General", "<Control>question", "Keyboard Shortcuts", "app.shortcuts"},
    {"General", "<Control>w", "Close the window", "app.close-window"},
    {"General", "<Control>q", "Close every window and quit", "app.quit"},
    {"Searching", "Escape", "Stop the running search", nullptr},
    {"Results windows", "<Control>f", "Find in the page", "results.find"},
    {"Results windows", "<Control>g", "Next match", "results.find-next"},
    {"Results windows", "<Shift><Control>g", "Previous match", "results.find-previous"},
    {"Results windows", "Return", "Next match, in the find bar", nullptr},
    {"Results windows", "<Shift>Return", "Previous match, in the find bar", nullptr},
    {"Results windows", "Escape", "Close the find bar", "results.close-find"},
    {"Results windows", "<Control>plus <Control>equal", "Zoom in (also Ctrl and scrolling up)", "results.zoom-in"},
    {"Results windows", "<Control>minus", "Zoom out (also Ctrl and scrolling down)", "results.zoom-out"},
    {"Results windows", "<Control>0", "Normal size", "results.zoom-reset"},
    {"Results windows", "<Alt>Left", "Back (also the mouse's back button)", "results.back"},
    {"Results windows", "<Alt>Right", "Forward (also the mouse's forward button)", "results.forward"},
    {"Results windows", "F5 <Control>r", "Reload", "results.reload"},
};

// libadwaita is started only when one of its windows is first needed: the
// main window does not wait for it.
void EnsureAdwaita() {
  static bool started = false;
  if (!started) adw_init();
  started = true;
}

// Keeps one window of a kind: shows the one open, or makes a new one.
bool PresentOpen(GtkWindow*& open, GtkWindow* parent) {
  if (!open) return false;
  if (parent) gtk_window_set_transient_for(open, parent);
  gtk_window_present(open);
  return true;
}

void KeepUntilClosed(GtkWindow*& slot, GtkWindow* window, GtkWindow* parent) {
  slot = window;
  g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&slot));
  if (parent) {
    gtk_window_set_transient_for(window, parent);
    // The application's keys work in it too, and quitting closes it.
    if (GtkApplication* app = gtk_window_get_application(parent)) gtk_window_set_application(window, app);
  }
  gtk_window_set_destroy_with_parent(window, FALSE);
  gtk_window_present(window);
}

std::string Escaped(const char* text) {
  GCharPtr escaped(g_markup_escape_text(text, -1));
  return escaped.get();
}

// The preferences window's state: its entry and the line under it.
struct SitePage {
  SiteSetting* setting;
  GtkWidget* row;
  GtkWidget* refusal;
};

void ShowRefusal(SitePage* page, const std::string& refusal) {
  gtk_label_set_text(GTK_LABEL(page->refusal), refusal.c_str());
  gtk_widget_set_visible(page->refusal, !refusal.empty());
  if (refusal.empty()) {
    gtk_widget_remove_css_class(page->row, "error");
    gtk_accessible_reset_property(GTK_ACCESSIBLE(page->row), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION);
  } else {
    gtk_widget_add_css_class(page->row, "error");
    gtk_accessible_update_property(GTK_ACCESSIBLE(page->row), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, refusal.c_str(), -1);
  }
}

void ApplySite(GtkWidget*, gpointer data) {
  auto* page = static_cast<SitePage*>(data);
  ShowRefusal(page, page->setting->Store(gtk_editable_get_text(GTK_EDITABLE(page->row))));
}

void RestoreSite(GtkButton*, gpointer data) {
  auto* page = static_cast<SitePage*>(data);
  page->setting->Restore();
  gtk_editable_set_text(GTK_EDITABLE(page->row), page->setting->Stored().c_str());
  ShowRefusal(page, {});
}

}  // namespace

std::span<const Shortcut> Shortcuts() { return kShortcuts; }

void SetAccelerators(GtkApplication* app) {
  for (const Shortcut& shortcut : kShortcuts) {
    // The other keys belong to the windows they work in.
    if (!shortcut.action || !g_str_has_prefix(shortcut.action, "app.")) continue;
    const char* keys[] = {shortcut.accelerator, nullptr};
    gtk_application_set_accels_for_action(app, shortcut.action, keys);
  }
}

GRefPtr<GMenuModel> PrimaryMenu() {
  GMenu* menu = g_menu_new();
  g_menu_append(menu, "_Preferences", "app.preferences");
  g_menu_append(menu, "_Keyboard Shortcuts", "app.shortcuts");
  g_menu_append(menu, "_About Quillmere", "app.about");
  return GRefPtr<GMenuModel>::Adopt(G_MENU_MODEL(menu));
}

void ShowPreferences(GtkWindow* parent, SiteSetting& setting) {
  static GtkWindow* open = nullptr;
  if (PresentOpen(open, parent)) return;
  EnsureAdwaita();
  GtkWidget* window = adw_preferences_window_new();
  adw_preferences_window_set_search_enabled(ADW_PREFERENCES_WINDOW(window), FALSE);
  GtkWidget* prefsPage = adw_preferences_page_new();
  GtkWidget* group = adw_preferences_group_new();
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group), "Index Site");
  adw_preferences_group_set_description(
      ADW_PREFERENCES_GROUP(group),
      "Where searches go: a host name or address, with a port after a colon if needed, and https:// if the site "
      "uses it. It applies from the next search on.");

  auto* page = new SitePage{&setting, adw_entry_row_new(), gtk_label_new(nullptr)};
  g_object_set_data_full(G_OBJECT(window), "quillmere-site-page", page,
                         [](gpointer data) { delete static_cast<SitePage*>(data); });
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(page->row), "Site Address");
  adw_entry_row_set_show_apply_button(ADW_ENTRY_ROW(page->row), TRUE);
  adw_entry_row_set_input_purpose(ADW_ENTRY_ROW(page->row), GTK_INPUT_PURPOSE_URL);
  gtk_editable_set_text(GTK_EDITABLE(page->row), setting.Stored().c_str());
  gtk_accessible_update_property(GTK_ACCESSIBLE(page->row), GTK_ACCESSIBLE_PROPERTY_LABEL, "Site Address", -1);
  g_signal_connect(page->row, "apply", G_CALLBACK(ApplySite), page);
  g_signal_connect(page->row, "entry-activated", G_CALLBACK(ApplySite), page);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), page->row);

  gtk_label_set_wrap(GTK_LABEL(page->refusal), TRUE);
  gtk_label_set_xalign(GTK_LABEL(page->refusal), 0);
  gtk_widget_add_css_class(page->refusal, "error");
  gtk_widget_set_margin_top(page->refusal, 6);
  gtk_widget_set_visible(page->refusal, FALSE);
  gtk_accessible_update_property(GTK_ACCESSIBLE(page->refusal), GTK_ACCESSIBLE_PROPERTY_LABEL, "Why the address was refused", -1);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), page->refusal);

  GtkWidget* restore = gtk_button_new_with_mnemonic("_Restore Default");
  gtk_widget_set_valign(restore, GTK_ALIGN_CENTER);
  gtk_widget_set_tooltip_text(restore, ("Use " + std::string(site::kDefaultAddress) + " again").c_str());
  g_signal_connect(restore, "clicked", G_CALLBACK(RestoreSite), page);
  adw_preferences_group_set_header_suffix(ADW_PREFERENCES_GROUP(group), restore);

  adw_preferences_page_add(ADW_PREFERENCES_PAGE(prefsPage), ADW_PREFERENCES_GROUP(group));
  adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(prefsPage));
  gtk_window_set_default_size(GTK_WINDOW(window), 520, 300);
  KeepUntilClosed(open, GTK_WINDOW(window), parent);
  gtk_widget_grab_focus(page->row);
}

void ShowShortcuts(GtkWindow* parent) {
  static GtkWindow* open = nullptr;
  if (PresentOpen(open, parent)) return;
  // GTK 4.8 fills a shortcuts window only from a description.
  std::string ui =
      "<interface><object class=\"GtkShortcutsWindow\" id=\"window\"><property name=\"modal\">1</property>"
      "<child><object class=\"GtkShortcutsSection\"><property name=\"section-name\">shortcuts</property>";
  const char* group = nullptr;
  for (const Shortcut& shortcut : kShortcuts) {
    if (!group || std::string(group) != shortcut.group) {
      if (group) ui += "</object></child>";
      group = shortcut.group;
      ui += "<child><object class=\"GtkShortcutsGroup\"><property name=\"title\">" + Escaped(group) + "</property>";
    }
    ui += "<child><object class=\"GtkShortcutsShortcut\"><property name=\"accelerator\">" +
          Escaped(shortcut.accelerator) + "</property><property name=\"title\">" + Escaped(shortcut.title) +
          "</property></object></child>";
  }
  if (group) ui += "</object></child>";
  ui += "</object></child></object></interface>";
  auto builder = GRefPtr<GtkBuilder>::Adopt(gtk_builder_new_from_string(ui.c_str(), -1));
  GtkWindow* window = GTK_WINDOW(gtk_builder_get_object(builder.get(), "window"));
  KeepUntilClosed(open, window, parent);
}

void ShowAbout(GtkWindow* parent) {
  static GtkWindow* open = nullptr;
  if (PresentOpen(open, parent)) return;
  EnsureAdwaita();
  GtkWidget* window = adw_about_window_new();
  AdwAboutWindow* about = ADW_ABOUT_WINDOW(window);
  adw_about_window_set_application_name(about, "Quillmere");
  adw_about_window_set_application_icon(about, "quillmere");
  adw_about_window_set_version(about, QUILLMERE_VERSION_PACKAGE);
  adw_about_window_set_comments(about, QUILLMERE_SUMMARY);
  adw_about_window_set_developer_name(about, "The Quillmere maintainers");
  adw_about_window_set_website(about, "https://quillmere.org/");
  adw_about_window_set_license_type(about, GTK_LICENSE_GPL_3_0);
  KeepUntilClosed(open, GTK_WINDOW(window), parent);
}

}  // namespace quillmere::gtk
