// The spare results window: made ahead of time, hidden, realised and at
// "about:blank", then handed to the next search as if it were new.
#include <gmock/gmock.h>

#include <optional>

#include "Harness.h"

namespace quillmere::e2e {
namespace {

using namespace std::chrono_literals;

// A results page of the site's shape, whose only row names the address.
std::u16string FakePage(const std::u16string& url) {
  return u"<table><tr><td>Torrent Name</td></tr><tr><td>row " + url + u"</td></tr></table>";
}

class SpareWindowTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { gtk_init(); }

  // Searches for "none" find nothing: the fetch fails.
  std::unique_ptr<gtk::Program> MakeProgram(GtkApplication* app) {
    return std::make_unique<gtk::Program>(
        app,
        [](const std::u16string& url, auto&&...) {
          return url.find(u"query=none") == std::u16string::npos ? FakePage(url) : u"";
        },
        QUILLMERE_PROGRAM_FOLDER, launcher_);
  }
  static WebKitWebView* ViewIn(GtkWindow* window) {
    GtkWidget* widget = gtk_window_get_child(window);
    while (widget && !WEBKIT_IS_WEB_VIEW(widget)) widget = gtk_widget_get_last_child(widget);
    return WEBKIT_WEB_VIEW(widget);
  }
  static void Search(gtk::Program& program, const std::string& query) {
    const std::string fill = "var q = document.querySelector('input[name=query]'); q.value = '" + query + "'; ";
    Eval(gtk::Program::ViewOf(program.Main()->WB()), fill + "q.form.requestSubmit(); 'ok'");
  }

  RecordingLauncher launcher_;
};

TEST_F(SpareWindowTest, SearchesTakeTheSpareAsItIsAndMakeDoWithoutOneWhenItIsNotReady) {
  auto program = MakeProgram(nullptr);
  program->Start();
  ASSERT_TRUE(SpinUntil([&] { return program->Spare() != nullptr; }, 30s));
  GtkWindow* spare = program->Spare();
  EXPECT_TRUE(gtk_widget_get_realized(GTK_WIDGET(spare)));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(spare)));
  ASSERT_TRUE(WaitForPage(ViewIn(spare), "location.href === 'about:blank'"));

  // Every navigation decision of the spare's view from here on: the written
  // page's only, as the view is at "about:blank" already. A hook sees them
  // before the program's handler ends the signal.
  struct Seen {
    WebKitWebView* view;
    int navigations = 0;
  } seen{ViewIn(spare)};
  const guint signal = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
  const gulong hook = g_signal_add_emission_hook(
      signal, 0,
      +[](GSignalInvocationHint*, guint, const GValue* values, gpointer data) -> gboolean {
        auto* s = static_cast<Seen*>(data);
        if (g_value_get_object(&values[0]) == s->view &&
            g_value_get_enum(&values[2]) == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION)
          ++s->navigations;
        return TRUE;
      },
      &seen, nullptr);
  // The window goes on the screen once its page has begun to load: shown
  // earlier, its first frame would wait for a page not yet decided on.
  std::optional<bool> loadingWhenShown;
  g_signal_connect_swapped(spare, "map", G_CALLBACK(+[](std::optional<bool>* loading, GtkWindow* window) {
                             *loading = webkit_web_view_is_loading(ViewIn(window));
                           }),
                           &loadingWhenShown);
  Search(*program, "first");
  // Straight after, the next spare is not made yet, so as not to hold up the
  // page being written: a window is made on the spot.
  ASSERT_TRUE(SpinUntil([&] { return program->ResultsWindows().size() == 1; }));
  EXPECT_EQ(program->Spare(), nullptr);
  Search(*program, "second");
  ASSERT_TRUE(SpinUntil([&] { return program->ResultsWindows().size() == 2; }));
  ASSERT_TRUE(SpinUntil([&] { return program->Spare() != nullptr; }));
  Search(*program, "third");
  ASSERT_TRUE(SpinUntil([&] { return program->ResultsWindows().size() == 3; }));

  const auto window = [&](size_t i) { return gtk::Program::WindowOf(program->ResultsWindows()[i]->Form()); };
  EXPECT_EQ(window(0), spare);
  for (size_t i = 0; i < 3; ++i) {
    const std::string query[] = {"first", "second", "third"};
    WebKitWebView* view = ViewIn(window(i));
    EXPECT_TRUE(WaitForPage(view, "document.body.innerText.indexOf('query=" + query[i] + "') >= 0")) << i;
    EXPECT_EQ(gtk_window_get_title(window(i)), "Quillmere: " + query[i]);
    // 10515 x 7200 twips less 80 x 320, whether the window was made ahead or not.
    EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_width(GTK_WIDGET(view)) == 696 &&
                                       gtk_widget_get_height(GTK_WIDGET(view)) == 459; })) << i;
  }
  g_signal_remove_emission_hook(signal, hook);
  EXPECT_EQ(seen.navigations, 1);
  EXPECT_EQ(loadingWhenShown, true);
  g_signal_handlers_disconnect_by_data(spare, &loadingWhenShown);

  // No page comes when the fetch fails: the window is shown all the same.
  Search(*program, "none");
  ASSERT_TRUE(SpinUntil([&] { return program->ResultsWindows().size() == 4; }));
  EXPECT_TRUE(SpinUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window(3))); }, 2s));
}

TEST_F(SpareWindowTest, ASpareClosedWithItsLayoutStillPendingLeavesNoTaskForItsDeadWindow) {
  auto program = MakeProgram(nullptr);
  program->Start();
  ASSERT_TRUE(SpinUntil([&] { return program->Spare() != nullptr; }, 30s));
  // GTK answers a layout request at idle. Left pending on the destroyed X
  // window of a window never shown, it is an X error that ends this process.
  gtk_widget_queue_resize(GTK_WIDGET(program->Spare()));
  program.reset();
  SpinFor(300ms);
  program = MakeProgram(nullptr);
  program->Start();
  EXPECT_TRUE(WaitForPage(gtk::Program::ViewOf(program->Main()->WB()), "document.readyState === 'complete'"));
}

TEST_F(SpareWindowTest, ApplicationEndsWithTheLastWindowTheUserSees) {
  auto app = gtk::GRefPtr<GtkApplication>::Adopt(
      gtk_application_new("org.quillmere.SpareWindowTest", G_APPLICATION_NON_UNIQUE));
  struct State {
    SpareWindowTest* test = nullptr;
    std::unique_ptr<gtk::Program> program;
    gtk::GSourceId closing, deadline;
    bool timedOut = false;
  } state;
  state.test = this;
  g_signal_connect(app.get(), "activate", G_CALLBACK(+[](GtkApplication* a, State* s) {
                     s->program = s->test->MakeProgram(a);
                     s->program->Start();
                     // Once the spare is there, the user closes the main window.
                     s->closing = gtk::GSourceId(g_timeout_add(50, +[](gpointer data) -> gboolean {
                       auto* st = static_cast<State*>(data);
                       if (!st->program->Spare()) return G_SOURCE_CONTINUE;
                       st->closing.forget();
                       gtk_window_close(gtk::Program::WindowOf(st->program->Main()->Form()));
                       return G_SOURCE_REMOVE;
                     }, s));
                   }),
                   &state);
  state.deadline = gtk::GSourceId(g_timeout_add_seconds(30, +[](gpointer data) -> gboolean {
    auto* st = static_cast<State*>(data);
    st->deadline.forget();
    st->timedOut = true;
    g_application_quit(g_application_get_default());
    return G_SOURCE_REMOVE;
  }, &state));
  g_application_run(G_APPLICATION(app.get()), 0, nullptr);
  EXPECT_FALSE(state.timedOut);
  EXPECT_EQ(state.program->Spare(), nullptr);
  state.program.reset();
}

}  // namespace
}  // namespace quillmere::e2e
