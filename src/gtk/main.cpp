// Quillmere: starting the program opens its main window; the program ends
// when its last window has been closed.
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <utility>

#include "gtk/Launcher.h"
#include "gtk/Program.h"
#include "net/ModINET.h"

namespace {

struct State {
  quillmere::gtk::GioLauncher launcher;
  std::unique_ptr<quillmere::gtk::Program> program;
};

void OnActivate(GtkApplication* app, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (state->program) return;
  quillmere::app::PageFetcher fetch = [](const std::u16string& url, std::u16string& contentType,
                                        const std::u16string& postData, int32_t bufferSize, int32_t mode) {
    return ModINET::FetchPage(url, contentType, postData, bufferSize, mode);
  };
  state->program = std::make_unique<quillmere::gtk::Program>(app, std::move(fetch), quillmere::gtk::ProgramFolder(),
                                                             state->launcher);
  state->program->Start();
}

}  // namespace

int main(int argc, char** argv) {
  // The program takes no command line; each start is a program of its own.
  (void)argc;
  g_set_prgname("quillmere");
  g_set_application_name("Quillmere");
  State state;
  auto app = quillmere::gtk::GRefPtr<GtkApplication>::Adopt(
      gtk_application_new("org.quillmere.Quillmere", G_APPLICATION_NON_UNIQUE));
  g_signal_connect(app.get(), "activate", G_CALLBACK(OnActivate), &state);
  char* args[] = {argv[0], nullptr};
  const int status = g_application_run(G_APPLICATION(app.get()), 1, args);
  state.program.reset();
  return status;
}
