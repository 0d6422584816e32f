#include "gtk/Program.h"

#include <unistd.h>

#include <algorithm>
#include <climits>

#include "app/FetchNotice.h"
#include "app/Layout.h"
#include "net/Site.h"
#include "text/CodePage.h"

namespace quillmere::gtk {

namespace {

int Pixels(float twips) { return static_cast<int>(twips / app::kTwipsPerPixel + 0.5f); }

const WindowStyle kMainStyle = {Pixels(app::kMainClientWidth), Pixels(app::kMainClientHeight), false, false};
const WindowStyle kResultsStyle = {Pixels(app::kResultsClientWidth), Pixels(app::kResultsClientHeight), true, true};
// A results window is shown once its page has begun to load, or after this
// long when no page comes, as when the fetch fails.
constexpr guint kResultsShowDelayMs = 50;

// The start page's form names its search page relative to the site; this
// script, run in every page the main window shows, makes it absolute with the
// site in use, so that the page file stays the same whatever the site.
void PointStartPageAtSite(WebKitWebView* view) {
  WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
  webkit_user_content_manager_remove_all_scripts(content);
  // The base is a checked address: letters, digits and ":/.[]-" only.
  const std::string script = "(function () { var form = document.forms.search; if (form) form.action = new URL("
                             "form.getAttribute('action') || '', '" + text::ToUtf8(site::SiteBaseUrl()) + "').href; })();";
  WebKitUserScript* user = webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                  WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, user);
  webkit_user_script_unref(user);
}

}  // namespace

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  // At the root the folder keeps its separator.
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

Program::Program(GtkApplication* app, app::PageFetcher fetcher, std::string programFolder, DesktopLauncher& launcher)
    : app_(app),
      fetcher_(std::move(fetcher)),
      formsFetcher_([this](const std::u16string& url, std::u16string& contentType, const std::u16string& postData,
                           int32_t bufferSize, int32_t mode) {
        return FetchForNewest(url, contentType, postData, bufferSize, mode);
      }),
      programFolder_(std::move(programFolder)),
      session_(launcher),
      zoom_(programFolder_) {
  InitializeLook(programFolder_);
  FetchGate::Instance().SetListener([this](bool running) { OnFetchRunning(running); });
}

Program::~Program() {
  FetchGate::Instance().SetListener(nullptr);
  releaseSource_.reset();
  reloadSource_.reset();
  results_.clear();
  main_.reset();
}

WebKitWebView* Program::ViewOf(app::BrowserView& view) { return static_cast<WebViewAdapter&>(view).Widget(); }

GtkWindow* Program::WindowOf(app::Window& window) { return static_cast<WindowAdapter&>(window).Widget(); }

app::MainForm& Program::Start() {
  auto view = std::make_unique<WebViewAdapter>(session_, WebViewAdapter::Kind::Main);
  WebViewAdapter& viewRef = *view;
  WindowStyle style = kMainStyle;
  style.menu = mainMenu_.get();
  auto window = std::make_unique<WindowAdapter>(app_, style, GTK_WIDGET(view->Widget()),
                                                [this] { Release(main_.get()); });
  PointStartPageAtSite(viewRef.Widget());
  viewRef.SetHost(window->Host());
  app::WindowParts parts{std::move(window), std::move(view)};
  main_ = std::make_unique<app::MainForm>(std::move(parts), *this, formsFetcher_, text::FromUtf8(programFolder_));
  main_->Form_Load();
  main_->Form().Show();
  MakeSpareAfterStartPage();
  return *main_;
}

std::shared_ptr<app::SearchForm> Program::CreateResultsWindow() {
  std::optional<ResultsParts> made = TakeSpare();
  if (made && app_) gtk_window_set_application(made->window->Widget(), app_);
  if (!made) made = MakeResultsParts(app_);
  auto form = std::make_shared<app::SearchForm>(std::move(made->parts), *this, formsFetcher_);
  *made->self = form.get();
  results_.push_back(form);
  AttachResultsKeys(form);
  made->window->SetTryAgainHandler([this, weak = std::weak_ptr<app::SearchForm>(form)] {
    if (std::shared_ptr<app::SearchForm> form = weak.lock()) Reload(*form);
  });
  MakeNextSpare();
  return form;
}

Program::ResultsParts Program::MakeResultsParts(GtkApplication* app) {
  auto view = std::make_unique<WebViewAdapter>(session_, WebViewAdapter::Kind::Results);
  WebViewAdapter& viewRef = *view;
  // The form's address is known only once it exists; the closing callback
  // reads it through this cell.
  auto self = std::make_shared<const void*>(nullptr);
  auto window = std::make_unique<WindowAdapter>(app, kResultsStyle, GTK_WIDGET(view->Widget()),
                                                [this, self] { Release(*self); });
  viewRef.SetHost(window->Host());
  viewRef.SetNoticeHandler([windowRef = window.get()](const app::WindowNotice& notice) { windowRef->SetNotice(notice); });
  zoom_.Follow(viewRef.Widget());
  window->ShowWhenViewLoads(kResultsShowDelayMs);
  WindowAdapter* windowRef = window.get();
  return {app::WindowParts{std::move(window), std::move(view)}, windowRef, std::move(self)};
}

void Program::PresentMain() {
  if (!main_) {
    Start();
    return;
  }
  gtk_window_present(WindowOf(main_->Form()));
}

void Program::SiteChanged() {
  if (!main_) return;
  PointStartPageAtSite(ViewOf(main_->WB()));
  startPageStale_ = true;
  if (!FetchGate::Instance().Running()) ReloadStartPageLater();
}

void Program::ReloadStartPageLater() {
  // Away from the handler that is finishing a search, which still works on
  // the main window.
  if (reloadSource_.get()) return;
  reloadSource_ = GSourceId(g_idle_add(+[](gpointer data) {
    auto* self = static_cast<Program*>(data);
    self->reloadSource_.forget();
    if (FetchGate::Instance().Running() || !self->startPageStale_) return G_SOURCE_REMOVE;
    self->startPageStale_ = false;
    if (self->main_) static_cast<WebViewAdapter&>(self->main_->WB()).ShowFileAgain();
    return G_SOURCE_REMOVE;
  }, this));
}

void Program::CloseAll() {
  for (app::Window* window : Windows()) window->Close();
}

std::vector<app::Window*> Program::Windows() {
  std::vector<app::Window*> windows;
  if (main_) windows.push_back(&main_->Form());
  for (const auto& form : results_) windows.push_back(&form->Form());
  return windows;
}

void Program::OnFetchRunning(bool running) {
  for (app::Window* window : Windows()) static_cast<WindowAdapter*>(window)->SetBusy(running);
  if (!running && startPageStale_) ReloadStartPageLater();
  if (!running && !closed_.empty() && !releaseSource_.get())
    releaseSource_ = GSourceId(g_idle_add(ReleaseClosed, this));
}

std::u16string Program::FetchForNewest(const std::u16string& url, std::u16string& contentType,
                                      const std::u16string& postData, int32_t bufferSize, int32_t mode) {
  if (results_.empty()) return fetcher_(url, contentType, postData, bufferSize, mode);
  return FetchFor(results_.back(), url, contentType, postData, bufferSize, mode);
}

std::u16string Program::FetchFor(const std::weak_ptr<app::SearchForm>& target, const std::u16string& url,
                                 std::u16string& contentType, const std::u16string& postData, int32_t bufferSize,
                                 int32_t mode) {
  const std::string address = text::ToUtf8(url);
  const std::string site = text::ToUtf8(site::SiteBaseUrl());
  const auto tell = [&target](const app::WindowNotice& notice) {
    if (std::shared_ptr<app::SearchForm> form = target.lock())
      static_cast<WindowAdapter&>(form->Form()).SetNotice(notice);
  };
  tell(app::FetchNotice(app::FetchPurpose::Search, address, nullptr, false, site));
  fetchTarget_ = target.lock().get();
  FetchGate::Instance().ForgetReport();
  std::u16string page = fetcher_(url, contentType, postData, bufferSize, mode);
  fetchTarget_ = nullptr;
  // A fetch that ends well takes the notice away before the page is written.
  const ModINET::FetchReport& report = FetchGate::Instance().LastReport();
  tell(app::FetchNotice(app::FetchPurpose::Search, address, &report, !page.empty(), site));
  return page;
}

void Program::Release(const void* form) {
  FetchGate& gate = FetchGate::Instance();
  // Closing the main window, or the results window that the running fetch is
  // for, gives that fetch up; the window it was for is gone.
  if (gate.Running() && ((main_ && form == main_.get()) || form == fetchTarget_)) gate.Cancel();
  closed_.push_back(form);
  if (!gate.Running() && !releaseSource_.get()) releaseSource_ = GSourceId(g_idle_add(ReleaseClosed, this));
}

gboolean Program::ReleaseClosed(gpointer data) {
  auto* self = static_cast<Program*>(data);
  self->releaseSource_.forget();
  if (FetchGate::Instance().Running()) return G_SOURCE_REMOVE;
  std::vector<const void*> closed;
  closed.swap(self->closed_);
  for (const void* form : closed) {
    if (self->main_ && form == self->main_.get()) {
      self->main_.reset();
      continue;
    }
    auto it = std::find_if(self->results_.begin(), self->results_.end(),
                           [form](const std::shared_ptr<app::SearchForm>& f) { return f.get() == form; });
    if (it != self->results_.end()) self->results_.erase(it);
  }
  if (self->OpenWindowCount() == 0 && self->onLastWindowClosed_) self->onLastWindowClosed_();
  return G_SOURCE_REMOVE;
}

}  // namespace quillmere::gtk
