#include "XInput.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cctype>

namespace quillmere::bench {

namespace {

// The 32-bit-format property `name` of `window`, or `fallback`.
long CardinalProperty(Display* display, ::Window window, const char* name, long fallback) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  long value = fallback;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      data && format == 32 && count == 1)
    value = *reinterpret_cast<long*>(data);
  if (data) XFree(data);
  return value;
}

std::string Title(Display* display, ::Window window) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                         XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &after,
                         &data) == Success &&
      data && format == 8)
    title.assign(reinterpret_cast<char*>(data), count);
  if (data) XFree(data);
  return title;
}

}  // namespace

XInput::XInput() : display_(XOpenDisplay(nullptr)) {}

XInput::~XInput() {
  if (display_) XCloseDisplay(display_);
}

std::vector<XInput::TopLevel> XInput::Windows(int pid) {
  std::vector<TopLevel> found;
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) return found;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, children[i], &attributes) || attributes.map_state != IsViewable) continue;
    if (CardinalProperty(display_, children[i], "_NET_WM_PID", -1) != pid) continue;
    found.push_back({children[i], Title(display_, children[i])});
  }
  if (children) XFree(children);
  return found;
}

void XInput::Focus(unsigned long window) {
  XSetInputFocus(display_, window, RevertToParent, CurrentTime);
  XSync(display_, False);
}

void XInput::Key(const char* keysym, bool control) {
  const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(keysym));
  const KeyCode ctrl = XKeysymToKeycode(display_, XK_Control_L);
  if (control) XTestFakeKeyEvent(display_, ctrl, True, 0);
  XTestFakeKeyEvent(display_, code, True, 0);
  XTestFakeKeyEvent(display_, code, False, 0);
  if (control) XTestFakeKeyEvent(display_, ctrl, False, 0);
  XFlush(display_);
}

void XInput::Type(const std::string& text) {
  const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
  for (char c : text) {
    const bool capital = std::isupper(static_cast<unsigned char>(c));
    const char name[2] = {static_cast<char>(std::tolower(static_cast<unsigned char>(c))), 0};
    const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(name));
    if (capital) XTestFakeKeyEvent(display_, shift, True, 0);
    XTestFakeKeyEvent(display_, code, True, 0);
    XTestFakeKeyEvent(display_, code, False, 0);
    if (capital) XTestFakeKeyEvent(display_, shift, False, 0);
  }
  XFlush(display_);
}

void XInput::Close(unsigned long window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XFlush(display_);
}

void XInput::WatchMaps() {
  XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
  XSync(display_, False);
  Mapped(0);
}

bool XInput::Mapped(int pid) {
  bool found = false;
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type == MapNotify && !found && pid != 0 &&
        CardinalProperty(display_, event.xmap.window, "_NET_WM_PID", -1) == pid)
      found = true;
  }
  return found;
}

}  // namespace quillmere::bench
