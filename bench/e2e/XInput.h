// Real keyboard input to the windows of the X server, given through its XTEST
// extension exactly as a keyboard gives it, and the little window handling
// that the end-to-end benchmark needs besides: finding a process's windows,
// focusing one, closing one as a window manager's close button would.
#pragma once

#include <string>
#include <vector>

struct _XDisplay;

namespace quillmere::bench {

class XInput {
 public:
  // On the display that $DISPLAY names.
  XInput();
  ~XInput();
  XInput(const XInput&) = delete;
  XInput& operator=(const XInput&) = delete;

  bool ok() const { return display_ != nullptr; }

  struct TopLevel {
    unsigned long id;
    std::string title;
  };
  // The mapped top-level windows of process `pid`.
  std::vector<TopLevel> Windows(int pid);

  void Focus(unsigned long window);
  // Presses and releases the key of `keysym` ("Return", "a"), with Control
  // held when `control`; the events have left for the server on return.
  void Key(const char* keysym, bool control = false);
  // Types letters and digits, Shift held for capitals.
  void Type(const std::string& text);
  void Close(unsigned long window);

  // From now on, notes top-level windows as the server maps them; Mapped
  // reads what has been noted so far and answers whether a window of `pid`
  // was among them.
  void WatchMaps();
  bool Mapped(int pid);

 private:
  _XDisplay* display_;
};

}  // namespace quillmere::bench
