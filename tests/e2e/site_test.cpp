// The site in use, end to end: given for one run, and read from the
// settings' key file at start and again when another process writes it (the
// desktop test types one into the Preferences window). Copies of the stand-in
// site answer on ports of their own.
#include <gmock/gmock.h>

#include "Harness.h"
#include "text/CodePage.h"

namespace quillmere::e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;
using gtk::GRefPtr;
using namespace std::chrono_literals;

fs::path KeyFile() { return fs::path(std::getenv("XDG_CONFIG_HOME")) / "glib-2.0/settings/keyfile"; }

// Writes the key file as another program would.
void StoreInKeyFile(const std::string& address) {
  fs::create_directories(KeyFile().parent_path());
  const std::string text = "[org/quillmere/Quillmere]\nsite='" + address + "'\n";
  ASSERT_TRUE(g_file_set_contents(KeyFile().c_str(), text.c_str(), -1, nullptr));
}

std::string Host(int port) { return "127.0.0.1:" + std::to_string(port); }

class SiteTest : public ProgramTest {
 protected:
  // Types a search into the start page with real keys, and checks that the
  // results window it opens links its downloads at `port`. Windows open at
  // 0,0 on a bare X server, so the earlier results go first.
  void SearchAt(int port) {
    for (const auto& form : program_->ResultsWindows()) form->Form().Close();
    ASSERT_TRUE(SpinUntil([&] { return program_->ResultsWindows().empty(); }));
    // The start page may be loading again after a change of site.
    ASSERT_TRUE(WaitForPage(MainView(), "document.forms.search.action.indexOf('http://" + Host(port) + "/') === 0"));
    ASSERT_FALSE(Click(MainView(), "document.querySelector('input[name=query]')").empty());
    ASSERT_EQ(std::system("xdotool type --delay 30 debian && xdotool key Return"), 0);
    ASSERT_TRUE(SpinUntil([&] { return !program_->ResultsWindows().empty(); }));
    WebKitWebView* view = gtk::Program::ViewOf(program_->ResultsWindows()[0]->WB2());
    ASSERT_TRUE(WaitForPage(view, "document.title === 'Quillmere.'"));
    EXPECT_THAT(Eval(view, "document.querySelector('a[href*=\"download.asp\"]').href").value_or("(none)"),
                StartsWith("http://" + Host(port) + "/download.asp?"));
  }

};

TEST_F(SiteTest, TheSiteForOneRunIsUsedAndNotStored) {
  const endurance::SiteServer second(0);
  ASSERT_TRUE(second.ok());
  Start(Host(second.port()));
  ASSERT_NO_FATAL_FAILURE(SearchAt(second.port()));
  EXPECT_FALSE(fs::exists(KeyFile()));
  EXPECT_EQ(setting_->Stored(), site::kDefaultAddress);
}

// The key file is read at start and again when another process writes it. A
// site that sends its searches on to another host is offered there, and
// switched to only on the user's word.
TEST_F(SiteTest, TheKeyFileIsFollowedAndAMovedSiteIsTakenOnlyOnTheUsersWord) {
  const endurance::SiteServer second(0), moved(0);
  const endurance::SiteServer old(0, [&](httplib::Server& s) {
    s.Get("/search.asp", [&](const httplib::Request& req, httplib::Response& res) {
      res.set_redirect("http://" + Host(moved.port()) + req.target, 301);
    });
  });
  ASSERT_TRUE(second.ok() && moved.ok() && old.ok());
  StoreInKeyFile(Host(second.port()));
  Start();
  ASSERT_NO_FATAL_FAILURE(SearchAt(second.port()));
  StoreInKeyFile("http://" + Host(old.port()) + "/");
  ASSERT_TRUE(SpinUntil([&] { return text::ToUtf8(site::SiteHost()) == Host(old.port()); }));
  ASSERT_NO_FATAL_FAILURE(SearchAt(old.port()));
  auto& window = static_cast<gtk::WindowAdapter&>(program_->ResultsWindows()[0]->Form());
  EXPECT_EQ(gtk_label_get_text(GTK_LABEL(window.NoticeWidgets().label)), "The site now answers at " + Host(moved.port()) + ".");
  EXPECT_EQ(setting_->Stored(), "http://" + Host(old.port()) + "/");
  auto actions = GRefPtr<GSimpleActionGroup>::Adopt(g_simple_action_group_new());
  setting_->AddUseSiteAction(G_ACTION_MAP(actions.get()));
  gtk_widget_insert_action_group(GTK_WIDGET(window.Widget()), "app", G_ACTION_GROUP(actions.get()));
  gtk_widget_activate(window.NoticeWidgets().useSite);
  EXPECT_TRUE(SpinUntil([&] { return setting_->Stored() == "http://" + Host(moved.port()); }));
  EXPECT_EQ(text::ToUtf8(site::SiteHost()), Host(moved.port()));
}

}  // namespace
}  // namespace quillmere::e2e
