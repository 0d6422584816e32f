// Quillmere: starting the program opens its main window; the program ends
// when its last window has been closed. A second start presents the running
// program's main window instead of starting a program of its own.
#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "BuildConfig.h"
#include "gtk/AppMenu.h"
#include "gtk/Fetcher.h"
#include "gtk/Launcher.h"
#include "gtk/Program.h"
#include "gtk/SiteSetting.h"
#include "net/SiteAddress.h"

namespace {

using quillmere::gtk::GRefPtr;

struct State {
  // The site given on the command line, for this run.
  std::optional<quillmere::site::SiteAddress> siteForThisRun;
  std::unique_ptr<quillmere::gtk::SiteSetting> site;
  std::unique_ptr<quillmere::gtk::GioLauncher> launcher;
  std::unique_ptr<quillmere::gtk::Program> program;
};

const GOptionEntry kOptions[] = {
    {"version", 'v', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, "Show the version and exit", nullptr},
    {"site", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_STRING, nullptr,
     "Search the site at ADDRESS for this run, leaving the stored site as it is; refused when Quillmere is "
     "already running",
     "ADDRESS"},
    {nullptr, 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
};

// Runs in the process that was started, before it looks for a running
// instance: the answers that need no window are given here.
gint OnHandleLocalOptions(GApplication* app, GVariantDict* options, gpointer data) {
  if (g_variant_dict_contains(options, "version")) {
    std::printf("quillmere %s\n", QUILLMERE_VERSION_PACKAGE);
    return 0;
  }
  const char* siteOption = nullptr;
  if (g_variant_dict_lookup(options, "site", "&s", &siteOption)) {
    quillmere::site::ParsedSiteAddress parsed = quillmere::site::ParseSiteAddress(siteOption);
    if (!parsed.address) {
      std::fprintf(stderr, "quillmere: --site %s: %s\n", siteOption, parsed.refusal.c_str());
      return 1;
    }
    static_cast<State*>(data)->siteForThisRun = parsed.address;
  }
  if (!gtk_init_check()) {
    const char* display = g_getenv("DISPLAY");
    std::fprintf(stderr, "quillmere: cannot open a display (DISPLAY is %s); it needs a graphical session\n",
                 display && *display ? display : "not set");
    return 1;
  }
  if (siteOption) {
    // The running program keeps its own site: a site for one run cannot be
    // handed to a run that has already begun.
    if (!g_application_register(app, nullptr, nullptr)) return 1;
    if (g_application_get_is_remote(app)) {
      std::fprintf(stderr, "quillmere: --site: Quillmere is already running; close it first, or change the site in "
                           "its Preferences\n");
      return 1;
    }
  }
  return -1;
}

void CloseWindow(GSimpleAction*, GVariant*, gpointer app) {
  if (GtkWindow* window = gtk_application_get_active_window(GTK_APPLICATION(app))) gtk_window_close(window);
}

void Quit(GSimpleAction*, GVariant*, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (state->program) state->program->CloseAll();
  // Preferences, Keyboard Shortcuts and About go too: the program ends.
  GList* windows = g_list_copy(gtk_application_get_windows(GTK_APPLICATION(g_application_get_default())));
  for (GList* window = windows; window; window = window->next) gtk_window_close(GTK_WINDOW(window->data));
  g_list_free(windows);
}

void OpenFolder(GSimpleAction*, GVariant* parameter, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (parameter && state->launcher) state->launcher->OpenFolder(g_variant_get_string(parameter, nullptr));
}

GtkWindow* ActiveWindow(gpointer app) { return gtk_application_get_active_window(GTK_APPLICATION(app)); }

void ShowPreferences(GSimpleAction*, GVariant*, gpointer data) {
  auto* state = static_cast<State*>(data);
  quillmere::gtk::ShowPreferences(ActiveWindow(g_application_get_default()), *state->site);
}

void ShowShortcuts(GSimpleAction*, GVariant*, gpointer app) { quillmere::gtk::ShowShortcuts(ActiveWindow(app)); }

void ShowAbout(GSimpleAction*, GVariant*, gpointer app) { quillmere::gtk::ShowAbout(ActiveWindow(app)); }

void OnStartup(GApplication* app, gpointer data) {
  auto* state = static_cast<State*>(data);
  state->site = std::make_unique<quillmere::gtk::SiteSetting>(quillmere::gtk::ProgramFolder(), state->siteForThisRun);
  state->site->SetChangedHandler([state] {
    if (state->program) state->program->SiteChanged();
  });
  const GActionEntry actions[] = {
      {"close-window", CloseWindow, nullptr, nullptr, nullptr, {}},
      {"shortcuts", ShowShortcuts, nullptr, nullptr, nullptr, {}},
      {"about", ShowAbout, nullptr, nullptr, nullptr, {}},
  };
  g_action_map_add_action_entries(G_ACTION_MAP(app), actions, G_N_ELEMENTS(actions), app);
  const GActionEntry stateActions[] = {
      {"quit", Quit, nullptr, nullptr, nullptr, {}},
      {"open-folder", OpenFolder, "s", nullptr, nullptr, {}},
      {"preferences", ShowPreferences, nullptr, nullptr, nullptr, {}},
  };
  g_action_map_add_action_entries(G_ACTION_MAP(app), stateActions, G_N_ELEMENTS(stateActions), data);
  state->site->AddUseSiteAction(G_ACTION_MAP(app));
  quillmere::gtk::SetAccelerators(GTK_APPLICATION(app));
}

void OnActivate(GtkApplication* app, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (state->program) {
    // A second start: the main window comes to the front, or a new one opens
    // when the user has closed it and only results windows are left.
    state->program->PresentMain();
    return;
  }
  state->launcher = std::make_unique<quillmere::gtk::GioLauncher>(G_APPLICATION(app));
  state->program = std::make_unique<quillmere::gtk::Program>(app, quillmere::gtk::MakeBackgroundFetcher(),
                                                             quillmere::gtk::ProgramFolder(), *state->launcher);
  state->program->SetMainMenu(quillmere::gtk::PrimaryMenu());
  state->program->Start();
}

}  // namespace

int main(int argc, char** argv) {
  g_set_prgname("quillmere");
  g_set_application_name("Quillmere");
  State state;
  auto app = GRefPtr<GtkApplication>::Adopt(gtk_application_new("org.quillmere.Quillmere", G_APPLICATION_DEFAULT_FLAGS));
  g_application_add_main_option_entries(G_APPLICATION(app.get()), kOptions);
  g_application_set_option_context_summary(G_APPLICATION(app.get()),
                                           "Searches the index site and shows its results in windows of their own.");
  g_signal_connect(app.get(), "handle-local-options", G_CALLBACK(OnHandleLocalOptions), &state);
  g_signal_connect(app.get(), "startup", G_CALLBACK(OnStartup), &state);
  g_signal_connect(app.get(), "activate", G_CALLBACK(OnActivate), &state);
  const int status = g_application_run(G_APPLICATION(app.get()), argc, argv);
  state.program.reset();
  state.site.reset();
  return status;
}
