#include "gtk/Window.h"

#include <webkit/webkit.h>
#ifdef GDK_WINDOWING_X11
#include <X11/Xlib.h>
#include <gdk/x11/gdkx.h>
#endif

#include <cmath>
#include <optional>
#include <string>

#include "app/Layout.h"
#include "gtk/Fetcher.h"
#include "text/CodePage.h"

namespace quillmere::gtk {

using app::kTwipsPerPixel;

namespace {

// A compact title bar like a tool window's, and the view's surroundings in
// the white of the pages, so that the layout's margins do not show as a frame.
constexpr char kCss[] = R"CSS(
headerbar.quillmere-titlebar { min-height: 24px; padding: 0 4px; }
headerbar.quillmere-titlebar .title { font-size: 9pt; font-weight: bold; }
headerbar.quillmere-titlebar windowcontrols button { min-height: 18px; min-width: 18px; padding: 0; margin: 2px 0; }
quillmere-viewhost { background-color: #ffffff; }
box.quillmere-notice { padding: 4px 6px; border-bottom: 1px solid alpha(currentColor, 0.15); }
box.quillmere-notice.searching { background-color: #eef3fa; }
box.quillmere-notice.failed { background-color: #fcefe3; }
box.quillmere-notice.moved { background-color: #eaf5ea; }
box.quillmere-notice label { font-size: 9pt; }
box.quillmere-notice button { min-height: 22px; padding: 0 8px; font-size: 9pt; }
)CSS";

#ifdef GDK_WINDOWING_X11
// Whether the desktop's window manager draws the windows' frames.
bool DesktopDrawsFrames() { return GDK_IS_X11_DISPLAY(gdk_display_get_default()); }

// Asks the X window manager for the frame of a tool window: moved, resized
// and closed, but neither minimised nor maximised, so that its title bar has
// only a close button.
void AskForToolFrame(GtkWidget* window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  GdkDisplay* display = gdk_surface_get_display(surface);
  // The Motif hints that window managers read: flags, functions, decorations,
  // input mode and status; the flag says that only the functions are given.
  constexpr long kFunctions = 1L << 0, kResize = 1L << 1, kMove = 1L << 2, kClose = 1L << 5;
  const long hints[5] = {kFunctions, kResize | kMove | kClose, 0, 0, 0};
  const Atom atom = gdk_x11_get_xatom_by_name_for_display(display, "_MOTIF_WM_HINTS");
  XChangeProperty(gdk_x11_display_get_xdisplay(display), gdk_x11_surface_get_xid(surface), atom, atom, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(hints), 5);
}
#else
bool DesktopDrawsFrames() { return false; }
void AskForToolFrame(GtkWidget*) {}
#endif

}  // namespace

void InitializeLook(const std::string& programFolder) {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return;
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(display);
  // Beside the program in the build tree, and the icon folder of the prefix
  // it is installed under.
  gtk_icon_theme_add_search_path(theme, (programFolder + "/icons").c_str());
  gtk_icon_theme_add_search_path(theme, (programFolder + "/" QUILLMERE_ICONS_FROM_PROGRAM).c_str());
  gtk_window_set_default_icon_name(kIconName);

  auto provider = GRefPtr<GtkCssProvider>::Adopt(gtk_css_provider_new());
  gtk_css_provider_load_from_data(provider.get(), kCss, -1);
  gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider.get()),
                                             GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

WindowAdapter::WindowAdapter(GtkApplication* app, const WindowStyle& style, GtkWidget* view,
                             std::function<void()> onClosed)
    : view_(view), style_(style), onClosed_(std::move(onClosed)) {
  window_ = GRefPtr<GtkWindow>::Ref(GTK_WINDOW(gtk_window_new()));
  if (app) gtk_window_set_application(window_.get(), app);
  gtk_window_set_icon_name(window_.get(), kIconName);

  // A title bar that GTK draws is a costly part of a window: under a GL
  // renderer it takes each window some megabytes of its own. A window with no
  // menu leaves it to the X window manager, which draws the caption and the
  // close button in its own process; where the desktop draws no frames, as on
  // Wayland, GTK's is the small one of a tool window, with only a close button.
  if (style.menu || !DesktopDrawsFrames()) {
    GtkWidget* titlebar = gtk_header_bar_new();
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(titlebar), ":close");
    if (style.menu) {
      GtkWidget* menu = gtk_menu_button_new();
      gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menu), "open-menu-symbolic");
      // The menu's popover is made when it is first opened, not on the way to
      // the start page.
      gtk_menu_button_set_create_popup_func(
          GTK_MENU_BUTTON(menu),
          [](GtkMenuButton* button, gpointer model) {
            if (!gtk_menu_button_get_popover(button)) gtk_menu_button_set_menu_model(button, G_MENU_MODEL(model));
          },
          g_object_ref(style.menu), g_object_unref);
      // F10 opens it, as the primary menu of a window.
      gtk_menu_button_set_primary(GTK_MENU_BUTTON(menu), TRUE);
      gtk_widget_set_tooltip_text(menu, "Main Menu");
      gtk_accessible_update_property(GTK_ACCESSIBLE(menu), GTK_ACCESSIBLE_PROPERTY_LABEL, "Main Menu", -1);
      gtk_header_bar_pack_end(GTK_HEADER_BAR(titlebar), menu);
      // The button's first drawing (a raised button whose shadow is blurred
      // off-screen) costs the window's first frame some 13 ms of rendering
      // without a graphics card, while the start page is still on its way. It
      // is drawn from the moment the window's page has loaded, together with
      // the page; until then it is in its place, undrawn, and its key and its
      // entry for assistive technology are there from the start.
      gtk_widget_set_opacity(menu, 0);
      g_signal_connect_object(view, "load-changed", G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, GtkWidget* menu) {
        if (event != WEBKIT_LOAD_FINISHED) return;
        gtk_widget_set_opacity(menu, 1);
        g_signal_handlers_disconnect_by_data(view, menu);
      }), menu, G_CONNECT_DEFAULT);
    } else {
      gtk_widget_add_css_class(titlebar, "quillmere-titlebar");
    }
    gtk_window_set_titlebar(window_.get(), titlebar);
  } else {
    g_signal_connect(window_.get(), "realize", G_CALLBACK(AskForToolFrame), nullptr);
  }

  GtkWidget* host = quillmere_view_host_new(style.clientWidth, style.clientHeight);
  host_ = GRefPtr<QuillmereViewHost>::Ref(QUILLMERE_VIEW_HOST(host));
  quillmere_view_host_set_child(host_.get(), view);
  quillmere_view_host_set_size_func(host_.get(), OnHostSize, this);
  gtk_widget_set_vexpand(host, TRUE);
  content_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  if (style.notice) BuildNotice(content_);
  gtk_box_append(GTK_BOX(content_), host);
  gtk_window_set_child(window_.get(), content_);

  gtk_window_set_resizable(window_.get(), style.resizable);
  // The default size covers the content area only; GTK adds the title bar.
  gtk_window_set_default_size(window_.get(), style.clientWidth, style.clientHeight);

  // GTK 4 destroys a closed window by dropping its own reference, which is
  // not the last while this adapter holds one; closing is the moment to tell.
  closeRequestId_ = g_signal_connect(window_.get(), "close-request", G_CALLBACK(OnCloseRequest), this);

  // Ahead of every widget inside, so that keys typed during a fetch are
  // dropped rather than kept for the page.
  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(OnKeyPressed), this);
  gtk_widget_add_controller(GTK_WIDGET(window_.get()), keys);
}

void WindowAdapter::BuildNotice(GtkWidget* content) {
  // An alert, so that assistive technology reads out what went wrong.
  GtkWidget* box = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_HORIZONTAL, "spacing", 6,
                                           "accessible-role", GTK_ACCESSIBLE_ROLE_ALERT, nullptr));
  gtk_widget_add_css_class(box, "quillmere-notice");
  gtk_widget_set_visible(box, FALSE);
  GtkWidget* spinner = gtk_spinner_new();
  gtk_spinner_set_spinning(GTK_SPINNER(spinner), TRUE);
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_selectable(GTK_LABEL(label), FALSE);
  gtk_widget_set_hexpand(label, TRUE);
  const auto button = [box](const char* text, GCallback clicked, gpointer data) {
    GtkWidget* b = gtk_button_new_with_label(text);
    gtk_widget_set_valign(b, GTK_ALIGN_CENTER);
    if (clicked) g_signal_connect(b, "clicked", clicked, data);
    return b;
  };
  GtkWidget* stop = button("Stop", G_CALLBACK(+[](GtkButton*, gpointer) { FetchGate::Instance().Cancel(); }), nullptr);
  GtkWidget* again = button("Try Again", G_CALLBACK(+[](GtkButton*, gpointer self) {
    auto* window = static_cast<WindowAdapter*>(self);
    if (window->tryAgain_ && !FetchGate::Instance().Running()) window->tryAgain_();
  }), this);
  GtkWidget* address = button("Site Address\u2026", nullptr, nullptr);
  gtk_actionable_set_action_name(GTK_ACTIONABLE(address), "app.preferences");
  GtkWidget* useSite = button("", nullptr, nullptr);
  GtkWidget* dismiss = gtk_button_new_from_icon_name("window-close-symbolic");
  gtk_widget_add_css_class(dismiss, "flat");
  gtk_widget_set_valign(dismiss, GTK_ALIGN_CENTER);
  gtk_widget_set_tooltip_text(dismiss, "Dismiss");
  gtk_accessible_update_property(GTK_ACCESSIBLE(dismiss), GTK_ACCESSIBLE_PROPERTY_LABEL, "Dismiss", -1);
  g_signal_connect(dismiss, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
    static_cast<WindowAdapter*>(self)->SetNotice({});
  }), this);
  for (GtkWidget* child : {spinner, label, stop, again, address, useSite, dismiss}) gtk_box_append(GTK_BOX(box), child);
  gtk_box_append(GTK_BOX(content), box);
  parts_ = {box, label, stop, again, address, useSite, dismiss};
}

void WindowAdapter::SetNotice(const app::WindowNotice& notice) {
  if (!parts_.box || closed_) return;
  using app::NoticeState;
  notice_ = notice;
  const NoticeState state = notice.state;
  GtkWidget* box = parts_.box;
  if (state == NoticeState::Idle) {
    gtk_widget_set_visible(box, FALSE);
    return;
  }
  const std::string text = text::ToUtf8(notice.text);
  gtk_label_set_text(GTK_LABEL(parts_.label), text.c_str());
  gtk_accessible_update_property(GTK_ACCESSIBLE(box), GTK_ACCESSIBLE_PROPERTY_LABEL, text.c_str(), -1);
  const char* kinds[] = {"searching", "failed", "moved"};
  for (const char* kind : kinds) gtk_widget_remove_css_class(box, kind);
  gtk_widget_add_css_class(box, kinds[static_cast<int>(state) - 1]);
  const bool searching = state == NoticeState::Searching;
  gtk_widget_set_visible(gtk_widget_get_first_child(box), searching);
  gtk_widget_set_visible(parts_.stop, searching);
  gtk_widget_set_visible(parts_.tryAgain, notice.tryAgain && tryAgain_);
  gtk_widget_set_visible(parts_.siteAddress, notice.siteAddress);
  gtk_widget_set_visible(parts_.dismiss, !searching);
  const bool moved = state == NoticeState::Moved;
  gtk_widget_set_visible(parts_.useSite, moved);
  if (moved) {
    // The user's word switches the site over, never the redirect alone.
    gtk_button_set_label(GTK_BUTTON(parts_.useSite), ("Use " + notice.movedHost).c_str());
    gtk_actionable_set_action_target_value(GTK_ACTIONABLE(parts_.useSite),
                                           g_variant_new_string(notice.movedTo.c_str()));
    gtk_actionable_set_action_name(GTK_ACTIONABLE(parts_.useSite), "app.use-site");
  }
  gtk_widget_set_visible(box, TRUE);
}

gboolean WindowAdapter::OnKeyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                                     gpointer data) {
  auto* self = static_cast<WindowAdapter*>(data);
  if (!self->busy_) return FALSE;
  if (keyval == GDK_KEY_Escape) {
    FetchGate::Instance().Cancel();
    return TRUE;
  }
  // The program's shortcuts (closing a window, quitting) still work.
  return (state & GDK_CONTROL_MASK) ? FALSE : TRUE;
}

void WindowAdapter::AddAboveView(GtkWidget* bar) { gtk_box_prepend(GTK_BOX(content_), bar); }

void WindowAdapter::SetBusy(bool busy) {
  if (busy == busy_ || closed_) return;
  busy_ = busy;
  GtkWidget* host = GTK_WIDGET(host_.get());
  if (busy) {
    focusBeforeBusy_ = gtk_root_get_focus(GTK_ROOT(window_.get()));
    if (focusBeforeBusy_) g_object_add_weak_pointer(G_OBJECT(focusBeforeBusy_), reinterpret_cast<gpointer*>(&focusBeforeBusy_));
    // An insensitive view gets no pointer or key events at all; the window's
    // own pointer shows over it.
    gtk_widget_set_sensitive(host, FALSE);
    // Only the running search's Stop stays at hand.
    if (parts_.box) gtk_widget_set_sensitive(parts_.box, notice_.state == app::NoticeState::Searching);
    return;
  }
  gtk_widget_set_sensitive(host, TRUE);
  if (parts_.box) gtk_widget_set_sensitive(parts_.box, TRUE);
  if (focusBeforeBusy_) {
    g_object_remove_weak_pointer(G_OBJECT(focusBeforeBusy_), reinterpret_cast<gpointer*>(&focusBeforeBusy_));
    gtk_widget_grab_focus(std::exchange(focusBeforeBusy_, nullptr));
  }
}

WindowAdapter::~WindowAdapter() {
  if (focusBeforeBusy_)
    g_object_remove_weak_pointer(G_OBJECT(focusBeforeBusy_), reinterpret_cast<gpointer*>(&focusBeforeBusy_));
  g_signal_handler_disconnect(window_.get(), closeRequestId_);
  if (!closed_) {
    quillmere_view_host_set_size_func(host_.get(), nullptr, nullptr);
    // A window that was realised but never shown (the spare) still has the
    // layout it asked for pending when it is destroyed: GTK 4.8 drops that
    // request when a window is hidden, but not when it is destroyed, and would
    // later resize the dead X window and set its frame counter, an X error
    // that ends the program. Hiding its surface first drops the request.
    GtkWidget* widget = GTK_WIDGET(window_.get());
    if (gtk_widget_get_realized(widget) && !gtk_widget_get_mapped(widget))
      gdk_surface_hide(gtk_native_get_surface(GTK_NATIVE(widget)));
    gtk_window_destroy(window_.get());
  }
}

void WindowAdapter::SetCaption(const std::u16string& caption) {
  gtk_window_set_title(window_.get(), text::ToUtf8(app::ShownCaption(caption)).c_str());
}

void WindowAdapter::Show() {
  if (closed_ || gtk_widget_get_visible(GTK_WIDGET(window_.get()))) return;
  SetSize();
  if (showDelayMs_) {
    showPending_ = true;
    if (!deferredShow_.get())
      deferredShow_ = GSourceId(g_timeout_add(showDelayMs_, +[](gpointer self) {
        static_cast<WindowAdapter*>(self)->deferredShow_.forget();
        static_cast<WindowAdapter*>(self)->ShowPending();
        return G_SOURCE_REMOVE;
      }, this));
    return;
  }
  gtk_window_present(window_.get());
}

void WindowAdapter::ShowWhenViewLoads(guint maxDelayMs) {
  // A window shown while its view's next navigation still waits for the
  // program's decision makes GTK wait, blocked, for a first frame that the
  // page cannot give until then: the page written into a results window is
  // decided on only after the handler that showed the window has returned.
  showDelayMs_ = maxDelayMs;
  const gulong id = g_signal_connect(
      view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
        if (event == WEBKIT_LOAD_STARTED) static_cast<WindowAdapter*>(self)->ShowPending();
      }),
      this);
  viewLoadChanged_.emplace(view_, id);
}

void WindowAdapter::ShowPending() {
  if (!showPending_) return;
  // Only the first showing waits.
  showPending_ = false;
  showDelayMs_ = 0;
  deferredShow_.reset();
  viewLoadChanged_.reset();
  Show();
}

void WindowAdapter::SetSize() {
  if (!sized_) {
    sized_ = true;
    // GTK's default size covers the title bar and the frame that GTK draws
    // itself; what is fixed is the content area, so add what they take. They
    // are the same for every window of a kind, and measuring them means
    // realizing the window first, which costs a search tens of milliseconds:
    // so they are measured once, on the first window of each kind.
    static std::optional<Extents> decorations[2];
    std::optional<Extents>& extents = decorations[style_.resizable ? 1 : 0];
    if (!extents) extents = MeasureDecorations();
    gtk_window_set_default_size(window_.get(), style_.clientWidth + extents->width,
                                style_.clientHeight + extents->height);
  }
}

void WindowAdapter::Realize() {
  // The size comes first: a window keeps the size it was realised at.
  SetSize();
  gtk_widget_realize(view_);
}

WindowAdapter::Extents WindowAdapter::MeasureDecorations() {
  GtkWidget* window = GTK_WIDGET(window_.get());
  gtk_widget_realize(window);
  // Against the window's whole content, so that a notice that happens to be
  // up while the first window of a kind is measured is not taken for part of
  // the frame of every later one.
  GtkWidget* content = gtk_window_get_child(window_.get());
  int windowWidth = 0, windowHeight = 0, contentWidth = 0, contentHeight = 0, unused = 0;
  gtk_widget_measure(window, GTK_ORIENTATION_HORIZONTAL, -1, &unused, &windowWidth, nullptr, nullptr);
  gtk_widget_measure(window, GTK_ORIENTATION_VERTICAL, windowWidth, &unused, &windowHeight, nullptr, nullptr);
  gtk_widget_measure(content, GTK_ORIENTATION_HORIZONTAL, -1, &unused, &contentWidth, nullptr, nullptr);
  gtk_widget_measure(content, GTK_ORIENTATION_VERTICAL, contentWidth, &unused, &contentHeight, nullptr, nullptr);
  return {windowWidth - contentWidth, windowHeight - contentHeight};
}

void WindowAdapter::SetMousePointer(int pointer) {
  if (closed_) return;
  const bool wait = pointer == app::kPointerHourglass;
  GtkWidget* window = GTK_WIDGET(window_.get());
  if (wait) {
    // The view shows a pointer of its own over the page, so the wait pointer
    // goes on it too, and the view's own comes back afterwards.
    if (!waiting_) viewCursor_ = GRefPtr<GdkCursor>::Ref(gtk_widget_get_cursor(view_));
    waiting_ = true;
    gtk_widget_set_cursor_from_name(window, "wait");
    gtk_widget_set_cursor_from_name(view_, "wait");
  } else {
    gtk_widget_set_cursor(window, nullptr);
    if (waiting_) gtk_widget_set_cursor(view_, viewCursor_.get());
    viewCursor_.reset();
    waiting_ = false;
  }
}

float WindowAdapter::Width() const {
  const int width = quillmere_view_host_get_current_width(host_.get());
  return static_cast<float>(width >= 0 ? width : style_.clientWidth) * kTwipsPerPixel;
}

float WindowAdapter::Height() const {
  const int height = quillmere_view_host_get_current_height(host_.get());
  return static_cast<float>(height >= 0 ? height : style_.clientHeight) * kTwipsPerPixel;
}

void WindowAdapter::Close() {
  if (!closed_) gtk_window_close(window_.get());
}

void WindowAdapter::OnHostSize(int, int, gpointer data) {
  auto* self = static_cast<WindowAdapter*>(data);
  if (self->resizeHandler_) self->resizeHandler_();
}

gboolean WindowAdapter::OnCloseRequest(GtkWindow*, gpointer data) {
  auto* self = static_cast<WindowAdapter*>(data);
  self->NoteClosed();
  return FALSE;
}

void WindowAdapter::NoteClosed() {
  WindowAdapter* self = this;
  if (self->closed_) return;
  self->closed_ = true;
  quillmere_view_host_set_size_func(self->host_.get(), nullptr, nullptr);
  if (self->onClosed_) self->onClosed_();
}

}  // namespace quillmere::gtk
