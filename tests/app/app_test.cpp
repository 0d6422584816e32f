// The window logic on fake windows and views, and the names and places of
// downloads.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/Downloads.h"
#include "app/FetchNotice.h"
#include "app/Layout.h"
#include "app/MainForm.h"
#include "app/SearchForm.h"
#include "app/Zoom.h"
#include "net/Site.h"
#include "net/CurlFacility.h"
#include "results/PageTexts.h"
#include "text/CodePage.h"

namespace {

using namespace quillmere::app;
using quillmere::results::kPageTemplate;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

std::string Narrow(std::u16string_view text) { return quillmere::text::ToUtf8(text); }

// The fake views and windows record what the window logic does to them in one
// shared log, so that tests can check the order of steps.
struct Recorder {
  std::string name;
  Log& log;
  void Note(const std::string& what) { log.push_back(name + "." + what); }
};

struct FakeView : BrowserView, Recorder {
  FakeView(std::string name, Log& log) : Recorder{std::move(name), log} {}

  void SetBeforeNavigate2Handler(BeforeNavigate2Handler h) override { handler = std::move(h); }
  // Like the real view, a navigation that the program starts raises the event.
  void Navigate2(const std::u16string& target) override {
    Note("Navigate2 " + Narrow(target));
    UserNavigates(target);
  }
  void Open() override { Note("Open"), writes.clear(); }
  void Write(std::u16string_view text) override { Note("Write"), writes.emplace_back(text); }
  void Close() override { Note("Close"); }
  std::optional<std::u16string> FieldValue(const std::u16string& field) override {
    Note("FieldValue " + Narrow(field));
    const auto it = fields.find(field);
    return it == fields.end() ? std::nullopt : std::optional(it->second);
  }
  void SetTop(float twips) override { bounds[0] = twips; }
  void SetLeft(float twips) override { bounds[1] = twips; }
  void SetWidth(float twips) override { bounds[2] = twips; }
  void SetHeight(float twips) override { bounds[3] = twips; }

  // A navigation, e.g. a click on a link; returns whether it was cancelled.
  bool UserNavigates(const std::u16string& url) {
    bool cancel = false;
    if (handler) handler(url, cancel);
    if (!cancel) location = url;
    return cancel;
  }

  BeforeNavigate2Handler handler;
  std::map<std::u16string, std::u16string> fields;
  std::u16string location;
  std::vector<std::u16string> writes;
  float bounds[4] = {-1, -1, -1, -1};  // top, left, width, height
};

struct FakeWindow : Window, Recorder {
  FakeWindow(std::string name, Log& log, float w, float h) : Recorder{std::move(name), log}, width(w), height(h) {}

  void SetResizeHandler(ResizeHandler h) override { resize = std::move(h); }
  void SetCaption(const std::u16string& text) override { Note("Caption " + Narrow(text)), caption = text; }
  void Show() override { Note("Show"), ++shows; }
  void SetMousePointer(int shape) override { Note("MousePointer " + std::to_string(shape)), pointer = shape; }
  float Width() const override { return width; }
  float Height() const override { return height; }
  void Close() override {}
  void Resize(float w, float h) { width = w, height = h, resize(); }

  float width, height;
  ResizeHandler resize;
  std::u16string caption;
  int shows = 0, pointer = 0;
};

constexpr char16_t kSitePage[] =
    u"<table><tr><td>Torrent Name</td></tr>"
    u"<tr><td><a href=\"directory.asp?mode=sub&amp;cat=2\">Linux</a></td>"
    u"<td><a href=\"download.asp?id=5&amp;f=x\">x</a></td></tr></table>"
    u"<td>Pages (2) <a href=\"search.asp?query=x&amp;mode=search&amp;page=2\">2</a></td>";
// The site's address as the build gives it by default.
const std::u16string kSite(quillmere::site::SiteBaseUrl());
const std::string kBase = Narrow(kSite);
constexpr char16_t kSearch[] = u"http://127.0.0.1:8642/search.asp?query=ubuntu+iso&mode=search";

// The main form on fakes; the fixture makes results windows R1, R2, ... and
// keeps them alive, as the toolkit's registry does.
class Forms : public ::testing::Test, public ResultsWindowFactory {
 protected:
  Forms() {
    auto window = std::make_unique<FakeWindow>("Main", log, kMainClientWidth, kMainClientHeight);
    auto view = std::make_unique<FakeView>("WB", log);
    mainWindow = window.get();
    wb = view.get();
    main = std::make_unique<MainForm>(WindowParts{std::move(window), std::move(view)}, *this, fetcher,
                                      u"/opt/quillmere");
    wb->fields[u"query"] = u"ubuntu iso";
    // The start page is loaded, and what that logged forgotten.
    main->Form_Load();
    log.clear();
  }

  std::shared_ptr<SearchForm> CreateResultsWindow() override {
    const std::string name = "R" + std::to_string(forms.size() + 1);
    log.push_back("create " + name);
    auto window = std::make_unique<FakeWindow>(name, log, 10515.0f, 7200.0f);
    auto view = std::make_unique<FakeView>(name + ".WB2", log);
    windows.push_back(window.get());
    views.push_back(view.get());
    forms.push_back(std::make_shared<SearchForm>(WindowParts{std::move(window), std::move(view)}, *this, fetcher));
    return forms.back();
  }

  FakeView& Results(size_t n) { return *views.at(n); }

  Log log;
  // Answers every fetch with `page` and records the arguments.
  std::u16string page = kSitePage;
  std::vector<std::u16string> urls;
  PageFetcher fetcher = [this](const std::u16string& url, std::u16string& type, const std::u16string& data,
                               int32_t size, int32_t mode) {
    log.push_back("fetch " + Narrow(url) + " [" + Narrow(data) + "] " + std::to_string(size) + " " +
                  std::to_string(mode));
    urls.push_back(url);
    type = u"text/html";
    return page;
  };
  std::vector<std::shared_ptr<SearchForm>> forms;
  std::vector<FakeWindow*> windows;  // owned by the forms
  std::vector<FakeView*> views;
  FakeWindow* mainWindow = nullptr;
  FakeView* wb = nullptr;
  std::unique_ptr<MainForm> main;
};

TEST_F(Forms, StartPageBesideTheProgramIsTheFirstNavigationAndGoesAhead) {
  EXPECT_EQ(mainWindow->caption, u"Quillmere 4.5");
  EXPECT_EQ(wb->location, u"/opt/quillmere/Data/index.dat");
  EXPECT_TRUE(main->StartPageShown());
  // Only the first navigation is let through whatever it is.
  EXPECT_TRUE(wb->UserNavigates(u"http://elsewhere.test/"));
  EXPECT_EQ(urls, std::vector<std::u16string>{u"http://elsewhere.test/"});
}

TEST_F(Forms, OnlyScriptAddressesInAnyLetterCaseAreLetThrough) {
  for (const char16_t* url : {u"javascript:void(0)", u"JavaScript:go()", u"JAVASCRIPT:"})
    EXPECT_FALSE(wb->UserNavigates(url)) << Narrow(url);
  EXPECT_THAT(log, IsEmpty());
  // A search for the word itself is a search like any other.
  const std::vector<std::u16string> searches = {u"http://h/search.asp?query=javascript+tutorial&mode=search",
                                                u"http://h/javascript:x", u"javascript", u"xjavascript:"};
  for (const std::u16string& url : searches) EXPECT_TRUE(wb->UserNavigates(url)) << Narrow(url);
  EXPECT_EQ(urls, searches);
}

TEST_F(Forms, SearchRunsItsStepsInOrder) {
  EXPECT_TRUE(wb->UserNavigates(kSearch));
  EXPECT_THAT(log, ElementsAre("Main.MousePointer 11", "WB.FieldValue query", "create R1", "R1.Caption Search Result:",
                               "R1.Caption Quillmere: ubuntu iso", "R1.WB2.Navigate2 about:blank", "R1.Show",
                               "fetch " + Narrow(kSearch) + " [] 1024 1", "R1.WB2.Open", "R1.WB2.Write", "R1.WB2.Write",
                               "R1.WB2.Write", "R1.WB2.Close", "R1.Show", "Main.MousePointer 0"));
  EXPECT_EQ(wb->location, u"/opt/quillmere/Data/index.dat");
  // The main window keeps the site's ampersand references.
  ASSERT_EQ(Results(0).writes.size(), 3u);
  EXPECT_EQ(Results(0).writes[0], kPageTemplate);
  EXPECT_THAT(Narrow(Results(0).writes[1]), HasSubstr("\"" + kBase + "directory.asp?mode=sub&amp;cat=2\""));
  EXPECT_THAT(Narrow(Results(0).writes[2]), HasSubstr("\"" + kBase + "search.asp?query=x&amp;mode=search"));
  // A second search opens a second window; the main window refers to it.
  wb->UserNavigates(kSearch);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(main->ResultsWindow(), forms[1]);
}

// A start page without the field searches on with an empty query.
TEST_F(Forms, NoMatchPageStillShowsTheWindowAgainAndRestoresThePointer) {
  page = u"<html>Nothing found</html>";
  wb->fields.clear();
  wb->UserNavigates(kSearch);
  EXPECT_EQ(windows.at(0)->caption, u"Quillmere: ");
  EXPECT_THAT(Results(0).writes, ElementsAre(std::u16string(kPageTemplate),
                                            u"Your search did not result in any matches.", u"</table></body></html>"));
  EXPECT_EQ(windows[0]->shows, 2);
  EXPECT_EQ(mainWindow->pointer, 0);
}

TEST_F(Forms, FailedFetchLeavesABlankTitledWindowInEitherWindowClass) {
  page.clear();
  wb->UserNavigates(kSearch);
  EXPECT_EQ(log.back(), "Main.MousePointer 0");
  Results(0).UserNavigates(kSite + u"search.asp?query=q&x");
  for (size_t n : {0u, 1u}) {
    EXPECT_EQ(Results(n).location, u"about:blank");
    EXPECT_THAT(Results(n).writes, IsEmpty());
    EXPECT_EQ(windows[n]->shows, 1);
  }
  EXPECT_EQ(windows[0]->caption, u"Quillmere: ubuntu iso");
  EXPECT_EQ(windows[1]->caption, u"Quillmere: q");
}

TEST_F(Forms, FollowedLinkOpensAWindowAndNeverChangesItsOwn) {
  wb->UserNavigates(kSearch);
  log.clear();
  // Other links, downloads above all, and the markers at any other host or
  // port, go ahead in the view itself.
  for (const std::u16string& url : {kSite + u"download.asp?id=1&f=x", std::u16string(u"magnet:?xt=urn:btih:ab"),
                                    std::u16string(u"http://127.0.0.1:9/api?x=search.asp&q=1")}) {
    EXPECT_FALSE(Results(0).UserNavigates(url));
    EXPECT_EQ(Results(0).location, url);
  }
  EXPECT_THAT(log, IsEmpty());
  const std::vector<std::u16string> before = Results(0).writes;
  const std::u16string link = kSite + u"directory.asp?mode=sub&cat=2";
  EXPECT_TRUE(Results(0).UserNavigates(link));
  EXPECT_TRUE(Results(0).UserNavigates(link));
  EXPECT_EQ(Results(0).writes, before);
  EXPECT_EQ(forms.size(), 3u);  // the same link twice opens two windows
  EXPECT_EQ(forms[0]->ResultsWindow(), forms[2]);
  // No pointer is set, and the results window turns "&amp;" into "&".
  EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 11),
              ElementsAre("create R2", "R2.Caption Search Result:", "R2.Caption Quillmere: Directory",
                          "R2.WB2.Navigate2 about:blank", "R2.Show", "fetch " + Narrow(link) + " [] 1024 1",
                          "R2.WB2.Open", "R2.WB2.Write", "R2.WB2.Write", "R2.WB2.Write", "R2.WB2.Close"));
  EXPECT_THAT(Narrow(Results(1).writes[1]), HasSubstr("\"" + kBase + "download.asp?id=5&f=x\""));
  EXPECT_THAT(Narrow(Results(1).writes[2]), HasSubstr("query=x&amp;mode=search"));
}

// Reloading fetches the window's own address again and builds the page as its
// opener did; a failed fetch leaves the page shown.
TEST_F(Forms, ReloadWritesTheOpenersPageAgainIntoTheSameWindow) {
  wb->UserNavigates(kSearch);
  const std::u16string link = kSite + u"directory.asp?mode=sub&cat=2";
  Results(0).UserNavigates(link);
  page.replace(page.find(u"Linux"), 5, u"BSD");
  for (size_t n : {0u, 1u}) EXPECT_TRUE(forms[n]->Reload(fetcher)) << n;
  EXPECT_THAT(urls, ElementsAre(kSearch, link, kSearch, link));
  EXPECT_EQ(forms.size(), 2u);
  // Each in its opener's way: the main window's keeps "&amp;".
  EXPECT_THAT(Narrow(Results(0).writes[1]), AllOf(HasSubstr("BSD"), HasSubstr("id=5&amp;f=x")));
  EXPECT_THAT(Narrow(Results(1).writes[1]), AllOf(HasSubstr("BSD"), HasSubstr("id=5&f=x")));
  page.clear();
  EXPECT_FALSE(forms[1]->Reload(fetcher));
  EXPECT_THAT(Narrow(Results(1).writes[1]), HasSubstr("BSD"));
}

TEST_F(Forms, CaptionsOfFollowedLinksAreTakenFromTheAddress) {
  wb->UserNavigates(kSearch);
  const std::pair<std::u16string, std::u16string> cases[] = {
      {kSite + u"DIRECTORY.ASP", u"Quillmere: Directory"},
      {kSite + u"search.asp?directory.asp&query=q", u"Quillmere: Directory"},
      {kSite + u"Search.asp?query=red+hat%20x&mode=search", u"Quillmere: red+hat%20x"},
      // Without "query=" (looked for in lower case only) the caption starts at the sixth character.
      {kSite + u"search.asp?QUERY=up&x=1", u"Quillmere: " + kSite.substr(5) + u"search.asp?QUERY=up"},
      {kSite + u"search.asp?query=&mode=search", u"Quillmere: "},
      // With no "&" after it, the query runs to the end of the address.
      {kSite + u"search.asp?page=2&query=tail", u"Quillmere: tail"}};
  for (const auto& [url, caption] : cases) {
    EXPECT_TRUE(Results(0).UserNavigates(url));
    EXPECT_EQ(windows.back()->caption, caption);
    EXPECT_EQ(urls.back(), url);
  }
}

// One twip over each margin, and one under it.
TEST_F(Forms, LayoutKeepsViewsTopLeftAndNeverNegative) {
  CreateResultsWindow();
  for (const auto& [window, view, width, height, size] :
       {std::tuple(mainWindow, wb, 31, 1, 1), std::tuple(mainWindow, wb, 29, 0, 0),
        std::tuple(windows[0], &Results(0), 81, 321, 1), std::tuple(windows[0], &Results(0), 79, 319, 0)}) {
    window->Resize(width, height);
    EXPECT_THAT(view->bounds, ElementsAre(0, 0, size, size)) << width;
  }
}

// What the desktop is given is cut; the window logic keeps the caption whole.
TEST(ShownCaption, CutsAt200CharactersWithAnEllipsisAndNeverSplitsACharacter) {
  const std::u16string x200(200, u'x'), emoji = u"\U0001F600";
  const std::pair<std::u16string, std::u16string> cases[] = {
      {x200, x200},
      {x200 + u"y", x200 + u"\u2026"},
      {std::u16string(100000, u'q'), std::u16string(200, u'q') + u"\u2026"},
      {std::u16string(199, u'x') + emoji, std::u16string(199, u'x') + u"\u2026"},
  };
  for (const auto& [caption, shown] : cases) EXPECT_EQ(ShownCaption(caption), shown) << caption.size();
}

// A page that clicks links itself from inside the user's click gets the first.
TEST(ActionBudget, OneHandOffPerActionAndTheRestCounted) {
  ActionBudget budget;
  EXPECT_FALSE(budget.Spend());  // nothing before the user's first action
  budget.Grant();
  EXPECT_TRUE(budget.Spend());
  for (int i = 0; i < 19; ++i) EXPECT_FALSE(budget.Spend());
  EXPECT_EQ(RefusedNotice(budget.Refused()).body, "The page tried to open 19 more links; they were refused.");
  EXPECT_EQ(RefusedNotice(1).body, "The page tried to open 1 more link; it was refused.");
  budget.Grant();
  EXPECT_EQ(budget.Refused(), 0);
  EXPECT_TRUE(budget.Spend());
}

// 244 bytes at most, so that WebKit's "<name>.wkdownload" still fits in 255.
TEST(SafeDownloadName, KeepsNamesSafeAndWithin244Bytes) {
  const std::string x236(236, 'x');
  std::string euros;  // 79 three-byte characters
  while (euros.size() < 79 * 3) euros += "\xe2\x82\xac";
  const struct {
    std::string suggested, expected;
  } cases[] = {
      {"Ubuntu 22.04.torrent", "Ubuntu 22.04.torrent"},
      {"../../etc/passwd", ".._.._etc_passwd"},
      {"/abs/path.torrent", "_abs_path.torrent"},
      {"dir\\win.torrent", "dir_win.torrent"},
      // The control characters end at 0x1F; 0x7F is one too, the bytes around it are not.
      {std::string("x\x1f y~\x7f\0\t\n.torrent\x80", 18), "x_ y~____.torrent\x80"},
      {"", "download"}, {".", "download"}, {"..", "download"}, {"   ", "download"},
      {"  padded.torrent  ", "padded.torrent"},
      {x236 + ".torrent", x236 + ".torrent"},
      {x236 + "x.torrent", x236 + ".torrent"},
      // The limit falls inside a three-byte character, which goes whole.
      {euros + ".torrent", euros.substr(0, 78 * 3) + ".torrent"},
      // An extension is at most 32 bytes with its dot; a longer one is cut like the rest.
      {std::string(300, 'x') + "." + std::string(31, 'e'), std::string(212, 'x') + "." + std::string(31, 'e')},
      {std::string(300, 'x') + "." + std::string(32, 'e'), std::string(244, 'x')},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeDownloadName(c.suggested), c.expected) << c.suggested;
}

TEST(DownloadFolder, PrefersTheEnvironmentThenTheSettingsThenHome) {
  EXPECT_EQ(DownloadFolder("/env/dl", "/settings/dl", "/home/u"), "/env/dl");
  EXPECT_EQ(DownloadFolder("", "/settings/dl", "/home/u"), "/settings/dl");
  EXPECT_EQ(DownloadFolder(std::nullopt, "", "/home/u/"), "/home/u/Downloads");
}

TEST(UniqueDownloadPath, NumbersTheNameUntilItIsFreeAndNeverOverwrites) {
  const std::string longest = std::string(236, 'n') + ".torrent";
  const std::set<std::string> taken = {"/dl/a.torrent", "/dl/a (1).torrent", "/dl/noext", "/dl/.hidden",
                                       "/dl/x.tar.gz", "/dl/" + longest};
  const auto exists = [&](const std::string& path) { return taken.count(path) != 0; };
  EXPECT_EQ(UniqueDownloadPath("/dl/", "b.torrent", exists), "/dl/b.torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", exists), "/dl/a (2).torrent");
  EXPECT_EQ(UniqueDownloadPath("/dl", "noext", exists), "/dl/noext (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", ".hidden", exists), "/dl/.hidden (1)");
  EXPECT_EQ(UniqueDownloadPath("/dl", "x.tar.gz", exists), "/dl/x.tar (1).gz");
  // A numbered name stays within 244 bytes too.
  EXPECT_EQ(UniqueDownloadPath("/dl", longest, exists), "/dl/" + std::string(232, 'n') + " (1).torrent");
  // When every name is taken it gives up rather than overwrite, after 9999 numbers.
  unsigned calls = 0;
  EXPECT_EQ(UniqueDownloadPath("/dl", "a.torrent", [&](const std::string&) { return ++calls > 0; }), "");
  EXPECT_EQ(calls, 10000u);
}

// Reason to words, and the buttons and state that go with them. The name that
// is not found comes from libcurl's own code: no test resolves a made-up name.
TEST(FetchNotice, NamesTheHostAndTheCauseAndOffersAWayOn) {
  using F = ModINET::FetchFailure;
  using N = NoticeState;
  const std::string site = "http://127.0.0.1:8653/", search = "http://127.0.0.1:8653/search.asp?query=q";
  const auto report = [](F failure, int status = 0, std::string reason = "", std::string at = "") {
    return ModINET::FetchReport{failure, status, std::move(reason), std::move(at)};
  };
  const auto S = FetchPurpose::Search, D = FetchPurpose::Download;
  struct Case {
    ModINET::FetchReport report;
    bool gotPage;
    N state;
    std::string text;
    bool tryAgain, siteAddress;
    std::string movedTo = "";
    FetchPurpose purpose = FetchPurpose::Search;
    std::string url = "http://127.0.0.1:8653/search.asp?query=q";
  };
  const Case cases[] = {
      {report(ModINET::ClassifyCurlResult(CURLE_COULDNT_RESOLVE_HOST, false, false)), false, N::Failed,
       "index.example.org was not found.", true, true, "", S, "http://index.example.org/search.asp"},
      {report(F::ConnectionRefused, 0, "", search), false, N::Failed, "Nothing answers at 127.0.0.1:8653.", true, true},
      {report(F::ConnectionRefused), false, N::Failed, "Nothing answers at a.example:80.", true, true, "", S, "http://a.example/x"},
      {report(F::ConnectTimeout), false, N::Failed, "The site did not answer within 15 s.", true, false},
      {report(F::Stalled, 200, "OK"), false, N::Failed, "The site stopped sending for 20 s.", true, false},
      {report(F::TotalTimeout), false, N::Failed, "The site took longer than 60 s to send the page.", true, false},
      {report(F::Tls), false, N::Failed, "The secure connection to h.example failed.", true, false, "", S, "https://h.example/"},
      {report(F::TooLarge, 200), true, N::Failed, "The page from 127.0.0.1 is larger than 64 MB.", true, false},
      {report(F::TooManyRedirects, 302), false, N::Failed, "127.0.0.1 sent the request round in circles.", true, false},
      {report(F::RefusedRedirect, 302), false, N::Failed, "127.0.0.1 sent the request on to an address that is not followed.",
       true, false},
      {report(F::Cancelled), false, N::Failed, "The search was stopped.", true, false},
      {report(F::Other), false, N::Failed, "The page could not be fetched from 127.0.0.1.", true, false},
      // An error page is written as the no-match page, and named beside it.
      {report(F::None, 503, "Service Unavailable"), true, N::Failed, "The site answered 503 Service Unavailable.", true, false},
      {report(F::None, 500), false, N::Failed, "The site answered 500.", true, false},
      {report(F::None, 200, "OK"), false, N::Failed, "127.0.0.1 sent an empty page.", true, false},
      {report(F::None, 200, "OK", search), true, N::Idle, "", false, false},
      // Moved by redirects from the site's own host; only a search is told.
      {report(F::None, 200, "OK", "https://new.example/search.asp"), true, N::Moved, "The site now answers at new.example.",
       false, false, "https://new.example:443"},
      {report(F::None, 200, "OK", "http://127.0.0.1:9/search.asp"), true, N::Moved, "The site now answers at 127.0.0.1:9.",
       false, false, "http://127.0.0.1:9"},
      {report(F::None, 200, "OK", "http://new.example/"), true, N::Idle, "", false, false, "", S, "http://other.example/search.asp"},
      {report(F::None, 200, "OK", "http://new.example/"), true, N::Idle, "", false, false, "", D},
      {report(F::ConnectionRefused), false, N::Failed, "The download could not start: Nothing answers at 127.0.0.1:9.", false,
       true, "", D, "http://127.0.0.1:9/download.asp?id=1"},
      {report(F::Cancelled), false, N::Idle, "", false, false, "", D},
  };
  for (const Case& c : cases) {
    const WindowNotice n = FetchNotice(c.purpose, c.url, &c.report, c.gotPage, site);
    EXPECT_EQ(std::tuple(n.state, Narrow(n.text), n.tryAgain, n.siteAddress, n.movedTo),
              std::tuple(c.state, c.text, c.tryAgain, c.siteAddress, c.movedTo));
  }
  const WindowNotice searching = FetchNotice(S, search, nullptr, false, site);
  EXPECT_EQ(searching.state, N::Searching);
  EXPECT_EQ(Narrow(searching.text), "Searching 127.0.0.1:8653\u2026");
  EXPECT_EQ(Narrow(FetchNotice(S, "http://index.example.org/s", nullptr, false, site).text),
            "Searching index.example.org\u2026");
}

TEST(StepZoom, StepsWithinTheBoundsFromAnyLevel) {
  const struct {
    double level;
    int direction;
    double expected;
  } cases[] = {{1.0, 1, 1.1}, {1.0, -1, 0.9}, {2.7, 0, 1.0}, {3.0, 1, 3.0}, {0.5, -1, 0.5},
               {1.03, 1, 1.1}, {1.03, -1, 1.0}, {1.099, 1, 1.25}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(StepZoom(c.level, c.direction), c.expected) << c.level << " " << c.direction;
}

}  // namespace
