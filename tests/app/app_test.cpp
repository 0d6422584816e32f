// The window logic on fake windows and views, and the names and places of
// downloads.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

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
using quillmere::text::ToUtf8;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

// What a user sees of the fakes goes into one log, in order: a window coming
// on the screen with its caption, a view showing the page written into it,
// and a window's pointer.
struct FakeView : BrowserView {
  FakeView(std::string name, Log& log) : name(std::move(name)), log(log) {}
  void SetBeforeNavigate2Handler(BeforeNavigate2Handler h) override { handler = std::move(h); }
  // Like the real view, a navigation that the program starts raises the event.
  void Navigate2(const std::u16string& target) override { UserNavigates(target); }
  void Open() override { written.clear(); }
  void Write(std::u16string_view text) override { written += text; }
  void Close() override { log.push_back(name + " shows its page"), page = written; }
  std::optional<std::u16string> FieldValue(const std::u16string& field) override {
    return field == u"query" ? query : std::nullopt;
  }
  void SetTop(float twips) override { bounds[0] = twips; }
  void SetLeft(float twips) override { bounds[1] = twips; }
  void SetWidth(float twips) override { bounds[2] = twips; }
  void SetHeight(float twips) override { bounds[3] = twips; }
  // A navigation, such as a click on a link; true when it was cancelled.
  bool UserNavigates(const std::u16string& url) {
    bool cancel = false;
    handler(url, cancel);
    if (!cancel) location = url;
    return cancel;
  }

  std::string name;
  Log& log;
  BeforeNavigate2Handler handler;
  std::optional<std::u16string> query = u"ubuntu iso";
  std::u16string location, written, page;
  float bounds[4] = {-1, -1, -1, -1};  // top, left, width, height
};

struct FakeWindow : Window {
  FakeWindow(std::string name, Log& log, float w, float h) : name(std::move(name)), log(log), width(w), height(h) {}
  void SetResizeHandler(ResizeHandler h) override { resize = std::move(h); }
  void SetCaption(const std::u16string& text) override { caption = ToUtf8(text); }
  // Showing a shown window again changes nothing on the screen.
  void Show() override { shown = shown || (log.push_back(name + " shown as " + caption), true); }
  void SetMousePointer(int shape) override { log.push_back(name + " pointer " + std::to_string(shape)); }
  float Width() const override { return width; }
  float Height() const override { return height; }
  void Close() override {}

  std::string name;
  Log& log;
  float width, height;
  ResizeHandler resize;
  std::string caption;
  bool shown = false;
};

constexpr char16_t kSitePage[] =
    u"<table><tr><td>Torrent Name</td></tr>"
    u"<tr><td><a href=\"directory.asp?mode=sub&amp;cat=2\">Linux</a></td>"
    u"<td><a href=\"download.asp?id=5&amp;f=x\">x</a></td></tr></table>"
    u"<td>Pages (2) <a href=\"search.asp?query=x&amp;mode=search&amp;page=2\">2</a></td>";
// The site's address as the build gives it by default.
const std::u16string kSite(quillmere::site::SiteBaseUrl());
const std::string kBase = ToUtf8(kSite);
const std::u16string kSearch = u"http://127.0.0.1:8642/search.asp?query=ubuntu+iso&mode=search";
const std::u16string kStartPage = u"/opt/quillmere/Data/index.dat";

// The main form on fakes, its start page loaded; results windows R1, R2, ...
// are kept alive here, as the toolkit's registry does.
class Forms : public ::testing::Test, public ResultsWindowFactory {
 protected:
  Forms() {
    auto window = std::make_unique<FakeWindow>("Main", log, kMainClientWidth, kMainClientHeight);
    auto view = std::make_unique<FakeView>("Main", log);
    mainWindow = window.get(), wb = view.get();
    main = std::make_unique<MainForm>(WindowParts{std::move(window), std::move(view)}, *this, fetcher,
                                      u"/opt/quillmere");
    main->Form_Load();
  }

  std::shared_ptr<SearchForm> CreateResultsWindow() override {
    const std::string name = "R" + std::to_string(forms.size() + 1);
    auto window = std::make_unique<FakeWindow>(name, log, kResultsClientWidth, kResultsClientHeight);
    auto view = std::make_unique<FakeView>(name, log);
    windows.push_back(window.get()), views.push_back(view.get());
    forms.push_back(std::make_shared<SearchForm>(WindowParts{std::move(window), std::move(view)}, *this, fetcher));
    return forms.back();
  }

  FakeView& Results(size_t n) { return *views.at(n); }

  Log log;
  std::u16string page = kSitePage;  // the answer to every fetch
  std::vector<std::u16string> urls;
  PageFetcher fetcher = [this](const std::u16string& url, std::u16string& type, auto&&...) {
    log.push_back("fetch " + ToUtf8(url)), urls.push_back(url), type = u"text/html";
    return page;
  };
  std::vector<std::shared_ptr<SearchForm>> forms;
  std::vector<FakeWindow*> windows;  // owned by the forms
  std::vector<FakeView*> views;
  FakeWindow* mainWindow = nullptr;
  FakeView* wb = nullptr;
  std::unique_ptr<MainForm> main;
};

TEST_F(Forms, OnlyScriptAddressesInAnyLetterCaseAreLetThrough) {
  for (const char16_t* url : {u"javascript:void(0)", u"JavaScript:go()", u"JAVASCRIPT:"})
    EXPECT_FALSE(wb->UserNavigates(url)) << ToUtf8(url);
  EXPECT_THAT(urls, IsEmpty());
  // A search for the word itself is a search like any other.
  const std::vector<std::u16string> searches = {u"http://h/search.asp?query=javascript+tutorial&mode=search",
                                                u"http://h/javascript:x", u"javascript", u"xjavascript:"};
  for (const std::u16string& url : searches) EXPECT_TRUE(wb->UserNavigates(url)) << ToUtf8(url);
  EXPECT_EQ(urls, searches);
}

TEST_F(Forms, SearchShowsItsTitledWindowThenWritesThePageIntoItAndRestoresThePointer) {
  log.clear();
  EXPECT_TRUE(wb->UserNavigates(kSearch));
  EXPECT_THAT(log, ElementsAre("Main pointer 11", "R1 shown as Quillmere: ubuntu iso", "fetch " + ToUtf8(kSearch),
                               "R1 shows its page", "Main pointer 0"));
  EXPECT_EQ(wb->location, kStartPage);
  // The main window keeps the site's ampersand references.
  EXPECT_THAT(ToUtf8(Results(0).page),
              AllOf(::testing::StartsWith(ToUtf8(quillmere::results::kPageTemplate)),
                    HasSubstr("\"" + kBase + "directory.asp?mode=sub&amp;cat=2\""),
                    HasSubstr("\"" + kBase + "search.asp?query=x&amp;mode=search")));
  // A second search opens a second window; the main window refers to it.
  wb->UserNavigates(kSearch);
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(main->ResultsWindow(), forms[1]);
}

// A start page without the field searches on with an empty query; a failed
// fetch leaves the window blank, in either window class.
TEST_F(Forms, NoMatchOrFailedFetchLeavesATitledWindowAndThePointerBack) {
  page = u"<html>Nothing found</html>";
  wb->query.reset();
  wb->UserNavigates(kSearch);
  EXPECT_EQ(windows.at(0)->caption, "Quillmere: ");
  page.clear();
  log.clear();
  wb->query = u"q";
  wb->UserNavigates(kSearch);
  EXPECT_EQ(log.back(), "Main pointer 0");
  Results(1).UserNavigates(kSite + u"search.asp?query=link&x");
  for (const auto& [n, caption] : {std::pair(1, "Quillmere: q"), std::pair(2, "Quillmere: link")}) {
    EXPECT_EQ(windows.at(n)->caption, caption);
    EXPECT_TRUE(windows[n]->shown);
    EXPECT_EQ(Results(n).location, u"about:blank");
    EXPECT_EQ(Results(n).page, u"");
  }
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
  const std::u16string before = Results(0).page;
  const std::u16string link = kSite + u"directory.asp?mode=sub&cat=2";
  EXPECT_TRUE(Results(0).UserNavigates(link));
  EXPECT_TRUE(Results(0).UserNavigates(link));
  EXPECT_EQ(Results(0).page, before);
  EXPECT_EQ(forms.size(), 3u);  // the same link twice opens two windows
  EXPECT_EQ(forms[0]->ResultsWindow(), forms[2]);
  // No pointer is set, and the results window turns "&amp;" into "&".
  const std::string fetch = "fetch " + ToUtf8(link);
  EXPECT_THAT(log, ElementsAre("R2 shown as Quillmere: Directory", fetch, "R2 shows its page",
                               "R3 shown as Quillmere: Directory", fetch, "R3 shows its page"));
  EXPECT_THAT(ToUtf8(Results(1).page),
              AllOf(HasSubstr("\"" + kBase + "download.asp?id=5&f=x\""), HasSubstr("query=x&amp;mode=search")));
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
  EXPECT_THAT(ToUtf8(Results(0).page), AllOf(HasSubstr("BSD"), HasSubstr("id=5&amp;f=x")));
  EXPECT_THAT(ToUtf8(Results(1).page), AllOf(HasSubstr("BSD"), HasSubstr("id=5&f=x")));
  page.clear();
  EXPECT_FALSE(forms[1]->Reload(fetcher));
  EXPECT_THAT(ToUtf8(Results(1).page), HasSubstr("BSD"));
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
    EXPECT_EQ(windows.back()->caption, ToUtf8(caption));
    EXPECT_EQ(urls.back(), url);
  }
}

// One twip over each margin, and one under it.
TEST_F(Forms, LayoutKeepsViewsTopLeftAndNeverNegative) {
  CreateResultsWindow();
  for (const auto& [window, view, width, height, size] :
       {std::tuple(mainWindow, wb, 31, 1, 1), std::tuple(mainWindow, wb, 29, 0, 0),
        std::tuple(windows[0], &Results(0), 81, 321, 1), std::tuple(windows[0], &Results(0), 79, 319, 0)}) {
    window->width = width, window->height = height, window->resize();
    EXPECT_THAT(view->bounds, ElementsAre(0, 0, size, size)) << width;
  }
}

// What the desktop is given is cut; the window logic keeps the caption whole.
TEST(ShownCaption, CutsAt200CharactersWithAnEllipsisAndNeverSplitsACharacter) {
  const std::u16string x200(200, u'x'), emoji = u"\U0001F600";
  const std::pair<std::u16string, std::u16string> cases[] = {
      {x200, x200},
      {x200 + u"y", x200 + u"\u2026"},
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
  const std::pair<std::string, std::string> cases[] = {
      {"Ubuntu 22.04.torrent", "Ubuntu 22.04.torrent"}, {"../../etc/passwd", ".._.._etc_passwd"},
      {"dir\\win.torrent", "dir_win.torrent"}, {"", "download"}, {"..", "download"}, {"   ", "download"},
      // The control characters end at 0x1F; 0x7F is one too, the bytes around it are not.
      {std::string("x\x1f y~\x7f\0\t\n.torrent\x80", 18), "x_ y~____.torrent\x80"},
      {"  padded.torrent  ", "padded.torrent"}, {x236 + ".torrent", x236 + ".torrent"},
      {x236 + "x.torrent", x236 + ".torrent"},
      // The limit falls inside a three-byte character, which goes whole.
      {euros + ".torrent", euros.substr(0, 78 * 3) + ".torrent"},
      // An extension is at most 32 bytes with its dot; a longer one is cut like the rest.
      {std::string(300, 'x') + "." + std::string(31, 'e'), std::string(212, 'x') + "." + std::string(31, 'e')},
      {std::string(300, 'x') + "." + std::string(32, 'e'), std::string(244, 'x')},
  };
  for (const auto& [suggested, expected] : cases) EXPECT_EQ(SafeDownloadName(suggested), expected) << suggested;
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
      {report(F::None, 200, "OK", "http://127.0.0.1:8/search.asp"), true, N::Moved, "The site now answers at 127.0.0.1:8.",
       false, false, "http://127.0.0.1:8"},
      {report(F::None, 200, "OK", "http://127.0.0.1:25/search.asp"), true, N::Idle, "", false, false},
      {report(F::None, 200, "OK", "http://new.example/"), true, N::Idle, "", false, false, "", S, "http://other.example/search.asp"},
      {report(F::None, 200, "OK", "http://new.example/"), true, N::Idle, "", false, false, "", D},
      {report(F::ConnectionRefused), false, N::Failed, "The download could not start: Nothing answers at 127.0.0.1:9.", false,
       true, "", D, "http://127.0.0.1:9/download.asp?id=1"},
      {report(F::Cancelled), false, N::Idle, "", false, false, "", D},
  };
  for (const Case& c : cases) {
    const WindowNotice n = FetchNotice(c.purpose, c.url, &c.report, c.gotPage, site);
    EXPECT_EQ(std::tuple(n.state, ToUtf8(n.text), n.tryAgain, n.siteAddress, n.movedTo),
              std::tuple(c.state, c.text, c.tryAgain, c.siteAddress, c.movedTo));
  }
  const WindowNotice searching = FetchNotice(S, search, nullptr, false, site);
  EXPECT_EQ(searching.state, N::Searching);
  EXPECT_EQ(ToUtf8(searching.text), "Searching 127.0.0.1:8653\u2026");
  EXPECT_EQ(ToUtf8(FetchNotice(S, "http://index.example.org/s", nullptr, false, site).text),
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
