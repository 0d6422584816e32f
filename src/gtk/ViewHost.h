// The content area of a window: holds the browser view and places it at the
// position and size that the window's layout gives, in pixels. It asks for no
// minimum size, so a window can always be made smaller than its view.
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

#define QUILLMERE_TYPE_VIEW_HOST (quillmere_view_host_get_type())
G_DECLARE_FINAL_TYPE(QuillmereViewHost, quillmere_view_host, QUILLMERE, VIEW_HOST, GtkWidget)

// A host whose natural size is `width` x `height` pixels.
GtkWidget* quillmere_view_host_new(int width, int height);

void quillmere_view_host_set_child(QuillmereViewHost* host, GtkWidget* child);

// Places the child; applied at the next allocation.
void quillmere_view_host_set_child_rect(QuillmereViewHost* host, double x, double y, double width, double height);

// Called with the host's new size whenever it changes, during its allocation;
// the callback may place the child again.
typedef void (*QuillmereViewHostSizeFunc)(int width, int height, gpointer data);
void quillmere_view_host_set_size_func(QuillmereViewHost* host, QuillmereViewHostSizeFunc func, gpointer data);

int quillmere_view_host_get_current_width(QuillmereViewHost* host);
int quillmere_view_host_get_current_height(QuillmereViewHost* host);

G_END_DECLS
