#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Fakes.h"
#include "app/Layout.h"
#include "app/MainForm.h"
#include "app/SearchForm.h"
#include "results/PageTexts.h"

namespace {

using namespace quillmere::app;
using namespace quillmere::app::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char16_t kResultsPage[] =
    u"<html><table><tr><td>Torrent Name</td></tr>"
    u"<tr><td><a href=\"directory.asp?mode=sub&amp;cat=2\">Linux</a></td>"
    u"<td><a href=\"download.asp?id=5&amp;f=x\">x</a></td></tr></table>"
    u"<td>Pages (2) <a href=\"search.asp?query=x&amp;mode=search&amp;page=2\">2</a></td></html>";

std::u16string SearchUrl(std::u16string_view query) {
  return u"http://127.0.0.1:8642/search.asp?query=" + std::u16string(query) + u"&mode=search";
}

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    auto window = std::make_unique<FakeWindow>("Main", log, kMainClientWidth, kMainClientHeight);
    auto view = std::make_unique<FakeView>("WB", log);
    mainWindow = window.get();
    wb = view.get();
    form = std::make_unique<MainForm>(WindowParts{std::move(window), std::move(view)}, factory, fetcher.AsFetcher(),
                                      u"/opt/quillmere");
    wb->fields[u"query"] = u"ubuntu iso";
    fetcher.page = kResultsPage;
  }

  // Loads the start page and forgets what that logged.
  void Start() {
    form->Form_Load();
    log.clear();
  }

  Log log;
  FakeFetcher fetcher{log};
  FakeFactory factory{log, fetcher.AsFetcher()};
  FakeWindow* mainWindow = nullptr;
  FakeView* wb = nullptr;
  std::unique_ptr<MainForm> form;
};

TEST_F(MainFormTest, StartsOnTheStartPageBesideTheProgram) {
  EXPECT_EQ(mainWindow->caption, u"Quillmere 4.5");
  form->Form_Load();
  ASSERT_THAT(wb->navigations, ElementsAre(u"/opt/quillmere/Data/index.dat"));
  // The first navigation goes ahead, whatever its address.
  EXPECT_EQ(wb->location, u"/opt/quillmere/Data/index.dat");
  EXPECT_TRUE(form->StartPageShown());
  EXPECT_THAT(factory.forms, IsEmpty());
  EXPECT_THAT(fetcher.calls, IsEmpty());
}

TEST_F(MainFormTest, FirstNavigationIsLetThroughEvenIfItLooksLikeASearch) {
  EXPECT_FALSE(wb->UserNavigates(SearchUrl(u"a")));
  EXPECT_THAT(factory.forms, IsEmpty());
  EXPECT_TRUE(wb->UserNavigates(SearchUrl(u"a")));
}

TEST_F(MainFormTest, ScriptAddressesInAnyLetterCaseAreLetThrough) {
  Start();
  for (const std::u16string& url : std::vector<std::u16string>{u"javascript:void(0)", u"JavaScript:go()", SearchUrl(u"JAVASCRIPT+tutorial")}) {
    EXPECT_FALSE(wb->UserNavigates(url)) << Narrow(url);
  }
  EXPECT_THAT(factory.forms, IsEmpty());
  EXPECT_THAT(log, IsEmpty());
}

TEST_F(MainFormTest, SearchRunsItsStepsInOrder) {
  Start();
  const std::u16string url = SearchUrl(u"ubuntu+iso");
  EXPECT_TRUE(wb->UserNavigates(url));
  EXPECT_THAT(log, ElementsAre("Main.MousePointer 11", "WB.FieldValue query", "create R1", "R1.Caption Search Result:",
                               "R1.Caption Quillmere: ubuntu iso", "R1.WB2.Navigate2 about:blank", "R1.Show",
                               "fetch " + Narrow(url), "R1.WB2.Open", "R1.WB2.Write", "R1.WB2.Write", "R1.WB2.Write",
                               "R1.WB2.Close", "R1.Show", "Main.MousePointer 0"));
  // The address is fetched as the view was about to load it; nothing posted.
  ASSERT_EQ(fetcher.calls.size(), 1u);
  EXPECT_EQ(fetcher.calls[0].url, url);
  EXPECT_EQ(fetcher.calls[0].postData, u"");
  EXPECT_EQ(fetcher.calls[0].bufferSize, 1024);
  EXPECT_EQ(fetcher.calls[0].mode, 1);
  EXPECT_EQ(form->QueryText(), u"ubuntu iso");
  EXPECT_EQ(wb->location, u"/opt/quillmere/Data/index.dat");  // the main window stays put
}

TEST_F(MainFormTest, ResultsPageKeepsAmpersandReferencesAndIsWrittenInThreeParts) {
  Start();
  wb->UserNavigates(SearchUrl(u"x"));
  FakeView& view = *factory.views.at(0);
  ASSERT_EQ(view.writes.size(), 3u);
  EXPECT_EQ(view.writes[0], quillmere::results::kPageTemplate);
  EXPECT_TRUE(view.writes[1].starts_with(u"Torrent Name"));
  EXPECT_THAT(Narrow(view.writes[1]), HasSubstr("http://127.0.0.1:8642/directory.asp?mode=sub&amp;cat=2"));
  EXPECT_THAT(Narrow(view.writes[2]), HasSubstr("http://127.0.0.1:8642/search.asp?query=x&amp;mode=search&amp;page=2"));
  EXPECT_FALSE(view.writing);
}

TEST_F(MainFormTest, NoMatchPageStillShowsTheWindowAndRestoresThePointer) {
  Start();
  fetcher.page = u"<html>Nothing found</html>";
  wb->UserNavigates(SearchUrl(u"zzz"));
  FakeView& view = *factory.views.at(0);
  EXPECT_EQ(view.written, std::u16string(quillmere::results::kPageTemplate) +
                              u"Your search did not result in any matches.</table></body></html>");
  EXPECT_EQ(factory.windows.at(0)->shows, 2);
  EXPECT_EQ(mainWindow->pointer, kPointerDefault);
}

TEST_F(MainFormTest, FailedFetchLeavesABlankTitledWindow) {
  Start();
  fetcher.page.clear();
  wb->UserNavigates(SearchUrl(u"x"));
  ASSERT_EQ(factory.forms.size(), 1u);
  FakeView& view = *factory.views[0];
  EXPECT_EQ(view.location, u"about:blank");
  EXPECT_THAT(view.writes, IsEmpty());
  EXPECT_EQ(factory.windows[0]->caption, u"Quillmere: ubuntu iso");
  EXPECT_EQ(factory.windows[0]->shows, 1);
  EXPECT_EQ(log.back(), "Main.MousePointer 0");
}

TEST_F(MainFormTest, StartPageWithoutQueryFieldSearchesWithAnEmptyQuery) {
  Start();
  wb->fields.clear();
  wb->UserNavigates(SearchUrl(u"x"));
  EXPECT_EQ(factory.windows.at(0)->caption, u"Quillmere: ");
  EXPECT_EQ(fetcher.calls.size(), 1u);
}

TEST_F(MainFormTest, EveryLaterNavigationIsASearchInItsOwnWindow) {
  Start();
  wb->UserNavigates(u"http://elsewhere.test/about.html");
  wb->fields[u"query"] = u"second";
  wb->UserNavigates(SearchUrl(u"second"));
  ASSERT_EQ(factory.forms.size(), 2u);
  EXPECT_EQ(fetcher.calls[0].url, u"http://elsewhere.test/about.html");
  EXPECT_EQ(factory.windows[1]->caption, u"Quillmere: second");
  // Both stay open; the main window refers to the newer one.
  EXPECT_EQ(form->ResultsWindow(), factory.forms[1]);
}

TEST_F(MainFormTest, LayoutFillsTheWindowLessTheMarginAndNeverGoesNegative) {
  mainWindow->Resize(8880, 2940);
  EXPECT_EQ(wb->top, 0);
  EXPECT_EQ(wb->left, 0);
  EXPECT_EQ(wb->width, 8850);
  EXPECT_EQ(wb->height, 2940);
  mainWindow->Resize(15, 0);
  EXPECT_EQ(wb->width, 0);
  EXPECT_EQ(wb->height, 0);
}

class SearchFormTest : public ::testing::Test {
 protected:
  SearchFormTest() {
    fetcher.page = kResultsPage;
    origin = factory.CreateResultsWindow();
    log.clear();
  }

  FakeView& OriginView() { return *factory.views.at(0); }

  Log log;
  FakeFetcher fetcher{log};
  FakeFactory factory{log, fetcher.AsFetcher()};
  std::shared_ptr<SearchForm> origin;
};

TEST_F(SearchFormTest, OtherLinksGoAheadInTheSameView) {
  for (std::u16string url : {u"about:blank", u"http://127.0.0.1:8642/download.asp?id=1&f=x",
                             u"magnet:?xt=urn:btih:abc", u"http://127.0.0.1:8642/images/downloadlock.gif"}) {
    EXPECT_FALSE(OriginView().UserNavigates(url)) << Narrow(url);
    EXPECT_EQ(OriginView().location, url);
  }
  EXPECT_EQ(factory.forms.size(), 1u);
  EXPECT_THAT(fetcher.calls, IsEmpty());
}

struct CaptionCase {
  std::u16string url;
  std::u16string caption;
};

class Captions : public SearchFormTest, public ::testing::WithParamInterface<CaptionCase> {};

TEST_P(Captions, TakenFromTheAddress) {
  EXPECT_TRUE(OriginView().UserNavigates(GetParam().url));
  ASSERT_EQ(factory.windows.size(), 2u);
  EXPECT_EQ(factory.windows[1]->caption, GetParam().caption);
  ASSERT_EQ(fetcher.calls.size(), 1u);
  EXPECT_EQ(fetcher.calls[0].url, GetParam().url);
}

INSTANTIATE_TEST_SUITE_P(
    Links, Captions,
    ::testing::Values(
        CaptionCase{u"http://h/directory.asp?mode=sub&cat=2", u"Quillmere: Directory"},
        CaptionCase{u"http://h/DIRECTORY.ASP", u"Quillmere: Directory"},
        CaptionCase{u"http://h/search.asp?directory.asp&query=q", u"Quillmere: Directory"},
        CaptionCase{u"http://h/search.asp?query=red+hat%20linux&mode=search&page=2", u"Quillmere: red+hat%20linux"},
        CaptionCase{u"http://h/Search.asp?query=Mixed&page=3", u"Quillmere: Mixed"},
        // Without "query=" the caption starts at the address's sixth character.
        CaptionCase{u"http://h/search.asp?mode=torrentdetails&id=1", u"Quillmere: //h/search.asp?mode=torrentdetails"},
        // "query=" is looked for in lower case only.
        CaptionCase{u"http://h/search.asp?QUERY=up&x=1", u"Quillmere: //h/search.asp?QUERY=up"},
        CaptionCase{u"http://h/search.asp?query=&mode=search", u"Quillmere: "},
        // With no "&" after it, the query runs to the end of the address.
        CaptionCase{u"http://h/search.asp?page=2&query=tail", u"Quillmere: tail"}));

TEST_F(SearchFormTest, FollowingALinkNeverChangesItsOwnWindow) {
  OriginView().location = u"about:blank";
  const std::u16string url = u"http://127.0.0.1:8642/search.asp?query=x&mode=search&page=2";
  EXPECT_TRUE(OriginView().UserNavigates(url));
  EXPECT_TRUE(OriginView().UserNavigates(url));
  EXPECT_EQ(OriginView().location, u"about:blank");
  EXPECT_THAT(OriginView().writes, IsEmpty());
  EXPECT_EQ(factory.windows[0]->caption, u"Search Result:");
  ASSERT_EQ(factory.forms.size(), 3u);  // the same link twice opens two windows
  EXPECT_EQ(origin->ResultsWindow(), factory.forms[2]);
  // No pointer is set by a results window.
  for (const std::string& entry : log) EXPECT_THAT(entry, ::testing::Not(HasSubstr("MousePointer")));
}

TEST_F(SearchFormTest, ResultsPageTurnsAmpersandReferencesIntoAmpersands) {
  OriginView().UserNavigates(u"http://h/directory.asp?mode=sub&cat=2");
  FakeView& view = *factory.views.at(1);
  ASSERT_EQ(view.writes.size(), 3u);
  EXPECT_THAT(Narrow(view.writes[1]), HasSubstr("http://127.0.0.1:8642/directory.asp?mode=sub&cat=2\""));
  EXPECT_THAT(Narrow(view.writes[1]), HasSubstr("http://127.0.0.1:8642/download.asp?id=5&f=x\""));
  // The navigation row keeps its references in either window.
  EXPECT_THAT(Narrow(view.writes[2]), HasSubstr("query=x&amp;mode=search"));
  EXPECT_EQ(factory.windows[1]->shows, 1);  // shown once, by the opener's steps
  EXPECT_THAT(log, ElementsAre("create R2", "R2.Caption Search Result:", "R2.Caption Quillmere: Directory",
                               "R2.WB2.Navigate2 about:blank", "R2.Show", "fetch http://h/directory.asp?mode=sub&cat=2",
                               "R2.WB2.Open", "R2.WB2.Write", "R2.WB2.Write", "R2.WB2.Write", "R2.WB2.Close"));
}

TEST_F(SearchFormTest, FailedFetchLeavesTheNewWindowBlank) {
  fetcher.page.clear();
  OriginView().UserNavigates(u"http://h/search.asp?query=q&x");
  EXPECT_EQ(factory.views.at(1)->location, u"about:blank");
  EXPECT_THAT(factory.views[1]->writes, IsEmpty());
  EXPECT_EQ(factory.windows[1]->caption, u"Quillmere: q");
}

TEST_F(SearchFormTest, LayoutKeepsTheViewTopLeftThroughResizing) {
  FakeWindow& window = *factory.windows[0];
  FakeView& view = OriginView();
  window.Resize(10515, 7200);
  EXPECT_EQ(view.top, 0);
  EXPECT_EQ(view.left, 0);
  EXPECT_EQ(view.width, 10435);
  EXPECT_EQ(view.height, 6880);
  window.Resize(60, 300);
  EXPECT_EQ(view.width, 0);
  EXPECT_EQ(view.height, 0);
}

}  // namespace
