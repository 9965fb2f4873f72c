// The one owner family for GLib and the C libraries around it: every handle the program takes from
// C is held by one of these, so logic code never releases anything by hand.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <utility>

#include "support/zbCOwner.h"

namespace zb {

using TzbGVariant = TzbOwner<GVariant, g_variant_unref>;
using TzbGChars = TzbOwner<char, g_free>;
using TzbGStrv = TzbOwner<gchar*, g_strfreev>;
using TzbGBytes = TzbOwner<GBytes, g_bytes_unref>;
using TzbGNodeInfo = TzbOwner<GDBusNodeInfo, g_dbus_node_info_unref>;

// A GList whose elements are freed with AFreeItem.
template <typename T, void (*AFreeItem)(T*)>
struct TzbGListFree {
  void operator()(GList* AList) const noexcept {
    g_list_free_full(AList, [](gpointer AItem) { AFreeItem(static_cast<T*>(AItem)); });
  }
};
template <typename T, void (*AFreeItem)(T*)>
using TzbGList = std::unique_ptr<GList, TzbGListFree<T, AFreeItem>>;

// A counted GObject reference: takes over the reference it is given; a copy adds one.
template <typename T>
class TzbGObject {
 public:
  TzbGObject() = default;
  explicit TzbGObject(T* AObject) noexcept : FObject(AObject) {}
  TzbGObject(const TzbGObject& AOther) noexcept : FObject(AOther.FObject) {
    if (FObject) g_object_ref(FObject);
  }
  TzbGObject(TzbGObject&& AOther) noexcept : FObject(std::exchange(AOther.FObject, nullptr)) {}
  TzbGObject& operator=(TzbGObject AOther) noexcept {
    std::swap(FObject, AOther.FObject);
    return *this;
  }
  ~TzbGObject() {
    if (FObject) g_object_unref(FObject);
  }
  // Adds a reference of its own to an object someone else owns.
  static TzbGObject Ref(T* AObject) noexcept {
    if (AObject) g_object_ref(AObject);
    return TzbGObject(AObject);
  }
  T* get() const noexcept { return FObject; }
  explicit operator bool() const noexcept { return FObject != nullptr; }
  void reset(T* AObject = nullptr) noexcept { TzbGObject(AObject).swap(*this); }
  // Hands the reference to a C call that takes it over.
  T* release() noexcept { return std::exchange(FObject, nullptr); }
  void swap(TzbGObject& AOther) noexcept { std::swap(FObject, AOther.FObject); }

 private:
  T* FObject = nullptr;
};

// Collects a GError from a C call: `TzbGError e; f(..., e.Out()); if (e) ...`.
class TzbGError {
 public:
  TzbGError() = default;
  TzbGError(const TzbGError&) = delete;
  TzbGError& operator=(const TzbGError&) = delete;
  ~TzbGError() {
    if (FRaw) g_error_free(FRaw);
  }
  GError** Out() noexcept { return &FRaw; }
  const GError* Get() const noexcept { return FRaw; }
  explicit operator bool() const noexcept { return FRaw != nullptr; }
  const char* Message() const noexcept { return FRaw && FRaw->message ? FRaw->message : ""; }
  // The message as UTF-16, or AFallback when there is none.
  std::u16string Text(std::u16string_view AFallback = u"") const;

 private:
  GError* FRaw = nullptr;
};

// User data of an asynchronous C call: the call holds a reference of its own to the shared state, so a
// callback that comes after the caller gave up waiting still finds it. AsyncData hands the reference to
// the call; the callback that ends the call takes it back with TakeAsyncData, or the call drops it with
// FreeAsyncData<T> as its GDestroyNotify. AsyncState reads it in a callback that may run more than once.
template <typename T>
gpointer AsyncData(std::shared_ptr<T> AState) {
  return new std::shared_ptr<T>(std::move(AState));
}
template <typename T>
std::shared_ptr<T> TakeAsyncData(gpointer AData) noexcept {
  const std::unique_ptr<std::shared_ptr<T>> held(static_cast<std::shared_ptr<T>*>(AData));
  return std::move(*held);
}
template <typename T>
void FreeAsyncData(gpointer AData) noexcept {
  delete static_cast<std::shared_ptr<T>*>(AData);
}
template <typename T>
T& AsyncState(gpointer AData) noexcept {
  return **static_cast<std::shared_ptr<T>*>(AData);
}

// A weak reference to a GObject: empty once the object is finalised, never dangling. For remembered
// widgets that may go before their rememberer.
template <typename T>
class TzbWeak {
 public:
  TzbWeak() noexcept = default;
  explicit TzbWeak(T* AObject) { Set(AObject); }
  TzbWeak(TzbWeak&&) noexcept = default;
  TzbWeak& operator=(TzbWeak&&) noexcept = default;
  ~TzbWeak() {
    if (FRef) g_weak_ref_clear(FRef.get());
  }
  void Set(T* AObject) {
    if (!FRef) {
      FRef = std::make_unique<GWeakRef>();
      g_weak_ref_init(FRef.get(), nullptr);
    }
    g_weak_ref_set(FRef.get(), AObject);
  }
  // The object while it lives, else nullptr; no reference is kept, so only for the calling moment.
  T* Get() const noexcept {
    gpointer object = FRef ? g_weak_ref_get(FRef.get()) : nullptr;
    if (object) g_object_unref(object);
    return static_cast<T*>(object);
  }
  // The object with a reference of its own, or empty.
  TzbGObject<T> Lock() const noexcept {
    return TzbGObject<T>(FRef ? static_cast<T*>(g_weak_ref_get(FRef.get())) : nullptr);
  }

 private:
  std::unique_ptr<GWeakRef> FRef;
};

// A signal connection that ends with its owner, or with its instance when that goes first: the owner
// holds the instance weakly, so the order in which the two end does not matter.
class TzbSignal {
 public:
  TzbSignal() = default;
  TzbSignal(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData) noexcept
      : FInstance(G_OBJECT(AInstance)), FId(g_signal_connect(AInstance, ASignal, AHandler, AData)) {}
  TzbSignal(TzbSignal&& AOther) noexcept : FInstance(std::move(AOther.FInstance)), FId(std::exchange(AOther.FId, 0)) {}
  TzbSignal& operator=(TzbSignal&& AOther) noexcept {
    TzbSignal(std::move(AOther)).Swap(*this);
    return *this;
  }
  ~TzbSignal() { Disconnect(); }
  void Disconnect() noexcept {
    if (!FId) return;
    // A destroyed widget that still lives has lost its handlers already.
    if (const TzbGObject<GObject> instance = FInstance.Lock();
        instance && g_signal_handler_is_connected(instance.get(), FId))
      g_signal_handler_disconnect(instance.get(), FId);
    FId = 0;
  }
  void Swap(TzbSignal& AOther) noexcept {
    std::swap(FInstance, AOther.FInstance);
    std::swap(FId, AOther.FId);
  }

 private:
  TzbWeak<GObject> FInstance;
  gulong FId = 0;
};

// A main-context source (timer, idle) that is removed with its owner unless it already ended.
class TzbSource {
 public:
  TzbSource() = default;
  explicit TzbSource(guint AId) noexcept : FId(AId) {}
  TzbSource(TzbSource&& AOther) noexcept : FId(std::exchange(AOther.FId, 0)) {}
  TzbSource& operator=(TzbSource&& AOther) noexcept {
    std::swap(FId, AOther.FId);
    return *this;
  }
  ~TzbSource() { Remove(); }
  void Remove() noexcept {
    if (FId) g_source_remove(std::exchange(FId, 0));
  }
  // The source ended itself (it returned G_SOURCE_REMOVE); nothing is left to remove.
  void Ended() noexcept { FId = 0; }
  explicit operator bool() const noexcept { return FId != 0; }

 private:
  guint FId = 0;
};

}  // namespace zb
