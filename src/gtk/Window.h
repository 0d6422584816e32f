// A top-level window on GTK 4: the caption, a title bar with only a close
// button, the mouse pointer, and a content area that holds the browser view.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>

#include "app/FetchNotice.h"
#include "app/Interfaces.h"
#include "gtk/GObjectPtr.h"
#include "gtk/ViewHost.h"

namespace quillmere::gtk {

struct WindowStyle {
  int clientWidth;   // pixels
  int clientHeight;  // pixels
  bool resizable;
  bool notice = false;  // a notice above the view says what became of the fetch for it
  // The primary menu of a full header bar; without one the title bar is the
  // desktop's own frame, or where the desktop draws none the small one of a
  // tool window.
  GMenuModel* menu = nullptr;
};

class WindowAdapter final : public app::Window {
 public:
  // `app` may be null (the tests run without a GtkApplication). `onClosed`
  // runs once, after the window has been closed by the user or by Close.
  WindowAdapter(GtkApplication* app, const WindowStyle& style, GtkWidget* view, std::function<void()> onClosed);
  ~WindowAdapter() override;
  WindowAdapter(const WindowAdapter&) = delete;
  WindowAdapter& operator=(const WindowAdapter&) = delete;

  GtkWindow* Widget() const { return window_.get(); }
  QuillmereViewHost* Host() const { return host_.get(); }

  void SetResizeHandler(ResizeHandler handler) override { resizeHandler_ = std::move(handler); }
  void SetCaption(const std::u16string& caption) override;
  void Show() override;
  void SetMousePointer(int pointer) override;
  // The size of the content area under the title bar, in twips.
  float Width() const override;
  float Height() const override;
  void Close() override;
  // Realises the window and its view at their final size, without showing
  // them, so that showing them later costs less.
  void Realize();
  // From now on Show maps the window once its view has begun to load a page,
  // or after `maxDelayMs` at the latest.
  void ShowWhenViewLoads(guint maxDelayMs);

  // Puts `bar` above the view, at the top of the window's content.
  void AddAboveView(GtkWidget* bar);

  // While a fetch runs the window's content takes no input, and Escape gives
  // the fetch up; afterwards the focus goes back where it was.
  void SetBusy(bool busy);

  // Shows `notice` above the view, or takes the notice away when it is idle.
  void SetNotice(const app::WindowNotice& notice);
  const app::WindowNotice& Notice() const { return notice_; }
  // What Try Again does; it is offered only when there is one.
  void SetTryAgainHandler(std::function<void()> handler) { tryAgain_ = std::move(handler); }
  // The notice's widgets, for the tests.
  struct NoticeParts {
    GtkWidget* box;
    GtkWidget* label;
    GtkWidget* stop;
    GtkWidget* tryAgain;
    GtkWidget* siteAddress;
    GtkWidget* useSite;
    GtkWidget* dismiss;
  };
  const NoticeParts& NoticeWidgets() const { return parts_; }

 private:
  void BuildNotice(GtkWidget* content);
  static gboolean OnKeyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer self);
  static void OnHostSize(int width, int height, gpointer self);
  static gboolean OnCloseRequest(GtkWindow*, gpointer self);
  void NoteClosed();
  // What the title bar and GTK's own frame add to the content area.
  struct Extents {
    int width;
    int height;
  };
  Extents MeasureDecorations();
  void SetSize();
  void ShowPending();


  GRefPtr<GtkWindow> window_;
  GRefPtr<QuillmereViewHost> host_;
  GtkWidget* content_ = nullptr;       // owned by the window: the bars above the view, and the view
  GtkWidget* view_ = nullptr;          // owned by the host
  GRefPtr<GdkCursor> viewCursor_;      // the view's own pointer, kept during the wait
  bool waiting_ = false;
  WindowStyle style_;
  ResizeHandler resizeHandler_;
  std::function<void()> onClosed_;
  gulong closeRequestId_ = 0;
  bool sized_ = false;
  bool closed_ = false;
  bool busy_ = false;
  GtkWidget* focusBeforeBusy_ = nullptr;
  app::WindowNotice notice_;
  NoticeParts parts_{};
  std::function<void()> tryAgain_;
  guint showDelayMs_ = 0;
  bool showPending_ = false;
  GSourceId deferredShow_;
  std::optional<SignalConnection> viewLoadChanged_;
};

// Registers the program's icon and the look of its windows with GTK; call
// once after GTK has started. `programFolder` is where the program file is.
void InitializeLook(const std::string& programFolder);

inline constexpr char kIconName[] = "quillmere";

}  // namespace quillmere::gtk
