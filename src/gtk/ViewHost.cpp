#include "gtk/ViewHost.h"

#include <cmath>

struct _QuillmereViewHost {
  GtkWidget parent_instance;
  GtkWidget* child;
  int natural_width;
  int natural_height;
  double x, y, width, height;
  int current_width;
  int current_height;
  gboolean allocating;
  QuillmereViewHostSizeFunc size_func;
  gpointer size_data;
};

G_DEFINE_FINAL_TYPE(QuillmereViewHost, quillmere_view_host, GTK_TYPE_WIDGET)

static void quillmere_view_host_measure(GtkWidget* widget, GtkOrientation orientation, int /*for_size*/,
                                        int* minimum, int* natural, int* minimum_baseline,
                                        int* natural_baseline) {
  QuillmereViewHost* self = QUILLMERE_VIEW_HOST(widget);
  *minimum = 0;
  *natural = orientation == GTK_ORIENTATION_HORIZONTAL ? self->natural_width : self->natural_height;
  *minimum_baseline = -1;
  *natural_baseline = -1;
}

static void quillmere_view_host_size_allocate(GtkWidget* widget, int width, int height, int /*baseline*/) {
  QuillmereViewHost* self = QUILLMERE_VIEW_HOST(widget);
  if (width != self->current_width || height != self->current_height) {
    self->current_width = width;
    self->current_height = height;
    if (self->size_func) {
      self->allocating = TRUE;
      self->size_func(width, height, self->size_data);
      self->allocating = FALSE;
    }
  }
  if (self->child) {
    GtkAllocation rect = {static_cast<int>(std::lround(self->x)), static_cast<int>(std::lround(self->y)),
                          static_cast<int>(std::lround(self->width)), static_cast<int>(std::lround(self->height))};
    gtk_widget_size_allocate(self->child, &rect, -1);
  }
}

static void quillmere_view_host_dispose(GObject* object) {
  QuillmereViewHost* self = QUILLMERE_VIEW_HOST(object);
  if (self->child) {
    gtk_widget_unparent(self->child);
    self->child = nullptr;
  }
  G_OBJECT_CLASS(quillmere_view_host_parent_class)->dispose(object);
}

static void quillmere_view_host_class_init(QuillmereViewHostClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = quillmere_view_host_dispose;
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  widget_class->measure = quillmere_view_host_measure;
  widget_class->size_allocate = quillmere_view_host_size_allocate;
  gtk_widget_class_set_css_name(widget_class, "quillmere-viewhost");
}

static void quillmere_view_host_init(QuillmereViewHost* self) {
  gtk_widget_set_overflow(GTK_WIDGET(self), GTK_OVERFLOW_HIDDEN);
  self->current_width = -1;
  self->current_height = -1;
}

GtkWidget* quillmere_view_host_new(int width, int height) {
  QuillmereViewHost* self = QUILLMERE_VIEW_HOST(g_object_new(QUILLMERE_TYPE_VIEW_HOST, nullptr));
  self->natural_width = width;
  self->natural_height = height;
  return GTK_WIDGET(self);
}

void quillmere_view_host_set_child(QuillmereViewHost* host, GtkWidget* child) {
  if (host->child) gtk_widget_unparent(host->child);
  host->child = child;
  if (child) gtk_widget_set_parent(child, GTK_WIDGET(host));
}

void quillmere_view_host_set_child_rect(QuillmereViewHost* host, double x, double y, double width, double height) {
  host->x = x;
  host->y = y;
  host->width = width < 0 ? 0 : width;
  host->height = height < 0 ? 0 : height;
  // Inside an allocation the new place is applied by that allocation itself.
  if (!host->allocating) gtk_widget_queue_allocate(GTK_WIDGET(host));
}

void quillmere_view_host_set_size_func(QuillmereViewHost* host, QuillmereViewHostSizeFunc func, gpointer data) {
  host->size_func = func;
  host->size_data = data;
}

int quillmere_view_host_get_current_width(QuillmereViewHost* host) { return host->current_width; }
int quillmere_view_host_get_current_height(QuillmereViewHost* host) { return host->current_height; }
