// The window logic on fake windows and views, and the names and places of
// downloads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "app/Downloads.h"
#include "app/Layout.h"
#include "app/MainForm.h"
#include "app/SearchForm.h"
#include "net/Site.h"
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
const std::string kBase = ToUtf8(quillmere::site::SiteBaseUrl);
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

TEST_F(Forms, StartPageBesideTheProgramIsTheFirstNavigationAndGoesAhead) {
  EXPECT_EQ(wb->location, kStartPage);
  EXPECT_TRUE(wb->UserNavigates(u"http://elsewhere.test/"));
  EXPECT_EQ(urls, std::vector<std::u16string>{u"http://elsewhere.test/"});
}

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
  EXPECT_EQ(Results(0).page, std::u16string(quillmere::results::kPageTemplate) +
                                 u"Your search did not result in any matches.</table></body></html>");
  page.clear();
  log.clear();
  wb->query = u"q";
  wb->UserNavigates(kSearch);
  EXPECT_EQ(log.back(), "Main pointer 0");
  Results(1).UserNavigates(u"http://h/search.asp?query=link&x");
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
  // Other links, downloads above all, go ahead in the view itself.
  for (const char16_t* url : {u"http://127.0.0.1:8642/download.asp?id=1&f=x", u"magnet:?xt=urn:btih:ab"}) {
    EXPECT_FALSE(Results(0).UserNavigates(url));
    EXPECT_EQ(Results(0).location, url);
  }
  EXPECT_THAT(log, IsEmpty());
  const std::u16string before = Results(0).page;
  const std::u16string link = u"http://127.0.0.1:8642/directory.asp?mode=sub&cat=2";
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

TEST_F(Forms, CaptionsOfFollowedLinksAreTakenFromTheAddress) {
  wb->UserNavigates(kSearch);
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"http://h/DIRECTORY.ASP", "Quillmere: Directory"},
      {u"http://h/search.asp?directory.asp&query=q", "Quillmere: Directory"},
      {u"http://h/Search.asp?query=red+hat%20x&mode=search", "Quillmere: red+hat%20x"},
      // Without "query=" (looked for in lower case only) the caption starts at the sixth character.
      {u"http://h/search.asp?QUERY=up&x=1", "Quillmere: //h/search.asp?QUERY=up"},
      {u"http://h/search.asp?query=&mode=search", "Quillmere: "},
      // With no "&" after it, the query runs to the end of the address.
      {u"http://h/search.asp?page=2&query=tail", "Quillmere: tail"}};
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
    window->width = width, window->height = height, window->resize();
    EXPECT_THAT(view->bounds, ElementsAre(0, 0, size, size)) << width;
  }
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

}  // namespace
