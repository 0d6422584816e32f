// Owners for GLib and GObject memory, so that no path that returns early can
// leak a reference or a g_malloc'd block.
#pragma once

#include <glib-object.h>

#include <memory>
#include <utility>

namespace quillmere::gtk {

// A strong reference to a GObject (or to any type with ref/unref functions
// given by the traits below). Copying takes a new reference; moving hands it on.
template <typename T>
class GRefPtr {
 public:
  GRefPtr() = default;
  GRefPtr(std::nullptr_t) {}
  GRefPtr(const GRefPtr& other) : ptr_(other.ptr_) {
    if (ptr_) g_object_ref(ptr_);
  }
  GRefPtr(GRefPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ~GRefPtr() { reset(); }

  GRefPtr& operator=(GRefPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  // Takes over a reference that the caller owns (a "transfer full" result).
  static GRefPtr Adopt(T* ptr) {
    GRefPtr result;
    result.ptr_ = ptr;
    return result;
  }
  // Takes a new reference, sinking a floating one if there is one.
  static GRefPtr Ref(T* ptr) {
    GRefPtr result;
    if (ptr) result.ptr_ = static_cast<T*>(g_object_ref_sink(ptr));
    return result;
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // Hands the reference to the caller.
  T* release() { return std::exchange(ptr_, nullptr); }
  void reset() {
    if (T* old = std::exchange(ptr_, nullptr)) g_object_unref(old);
  }

 private:
  T* ptr_ = nullptr;
};

struct GFreeDeleter {
  void operator()(void* p) const { g_free(p); }
};
// A block of memory that g_free releases, such as a gchar* result.
template <typename T>
using GUniquePtr = std::unique_ptr<T, GFreeDeleter>;
using GCharPtr = GUniquePtr<gchar>;

struct GErrorDeleter {
  void operator()(GError* e) const { g_error_free(e); }
};

// A GError out-parameter: pass Out() to the call, then test and read it.
class GErrorPtr {
 public:
  GError** Out() {
    error_.reset();
    return &raw_;
  }
  GError* get() {
    if (raw_) error_.reset(std::exchange(raw_, nullptr));
    return error_.get();
  }
  explicit operator bool() { return get() != nullptr; }
  ~GErrorPtr() {
    if (raw_) g_error_free(raw_);
  }

 private:
  GError* raw_ = nullptr;
  std::unique_ptr<GError, GErrorDeleter> error_;
};

struct GBytesDeleter {
  void operator()(GBytes* b) const { g_bytes_unref(b); }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesDeleter>;

struct GByteArrayDeleter {
  void operator()(GByteArray* a) const { g_byte_array_unref(a); }
};
using GByteArrayPtr = std::unique_ptr<GByteArray, GByteArrayDeleter>;

struct GListFullDeleter {
  void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};

// A GLib main-loop source that is removed when its owner goes away.
class GSourceId {
 public:
  GSourceId() = default;
  explicit GSourceId(guint id) : id_(id) {}
  GSourceId(GSourceId&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
  GSourceId& operator=(GSourceId&& other) noexcept {
    if (this != &other) {
      reset();
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  ~GSourceId() { reset(); }
  void reset() {
    if (guint id = std::exchange(id_, 0)) g_source_remove(id);
  }
  guint get() const { return id_; }
  // The source has run and removed itself; forget it.
  void forget() { id_ = 0; }

 private:
  guint id_ = 0;
};

// A signal connection that is dropped when its owner goes away, unless the
// instance has gone first (checked through a weak pointer).
class SignalConnection {
 public:
  SignalConnection() = default;
  SignalConnection(gpointer instance, gulong id) : id_(id) {
    g_weak_ref_init(&instance_, instance);
  }
  SignalConnection(const SignalConnection&) = delete;
  SignalConnection& operator=(const SignalConnection&) = delete;
  ~SignalConnection() {
    if (id_ != 0) {
      if (GObject* obj = static_cast<GObject*>(g_weak_ref_get(&instance_))) {
        g_signal_handler_disconnect(obj, id_);
        g_object_unref(obj);
      }
      g_weak_ref_clear(&instance_);
    }
  }

 private:
  GWeakRef instance_{};
  gulong id_ = 0;
};

}  // namespace quillmere::gtk
