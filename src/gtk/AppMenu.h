// What a desktop application shows besides its own windows: the primary menu,
// the keys, and the Preferences, Keyboard Shortcuts and About windows.
#pragma once

#include <gtk/gtk.h>

#include <span>

#include "gtk/GObjectPtr.h"
#include "gtk/SiteSetting.h"

namespace quillmere::gtk {

// A key of the program, as the shortcuts window lists it. Where `action` is
// given, the key is that application action's accelerator; the others are
// handled where they apply.
struct Shortcut {
  const char* group;
  const char* accelerator;
  const char* title;
  const char* action;
};

// Every key the program has, in the order the shortcuts window shows them.
std::span<const Shortcut> Shortcuts();

// Gives the application's actions their keys from Shortcuts().
void SetAccelerators(GtkApplication* app);

// Preferences, Keyboard Shortcuts, About Quillmere.
GRefPtr<GMenuModel> PrimaryMenu();

// Each opens its window over `parent` (which may be null), or brings it to
// the front when it is open already.
void ShowPreferences(GtkWindow* parent, SiteSetting& setting);
void ShowShortcuts(GtkWindow* parent);
void ShowAbout(GtkWindow* parent);

}  // namespace quillmere::gtk
