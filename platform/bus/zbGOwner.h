// Small RAII owners for GLib/GObject handles, so that logic code never frees by hand.
#pragma once

#include <gio/gio.h>

#include <memory>

namespace zb {

struct TzbGObjectFree {
  void operator()(gpointer AObject) const noexcept { g_object_unref(AObject); }
};
template <typename T>
using TzbGObject = std::unique_ptr<T, TzbGObjectFree>;

struct TzbGVariantFree {
  void operator()(GVariant* AValue) const noexcept { g_variant_unref(AValue); }
};
using TzbGVariant = std::unique_ptr<GVariant, TzbGVariantFree>;

struct TzbGErrorFree {
  void operator()(GError* AError) const noexcept { g_error_free(AError); }
};
using TzbGError = std::unique_ptr<GError, TzbGErrorFree>;

struct TzbGFree {
  void operator()(gpointer AMemory) const noexcept { g_free(AMemory); }
};
using TzbGChars = std::unique_ptr<char, TzbGFree>;

struct TzbGNodeInfoFree {
  void operator()(GDBusNodeInfo* AInfo) const noexcept { g_dbus_node_info_unref(AInfo); }
};
using TzbGNodeInfo = std::unique_ptr<GDBusNodeInfo, TzbGNodeInfoFree>;

// Collects a GError from a C call: `TzbGErrorSlot e; f(..., e.Out()); if (e) ...`.
class TzbGErrorSlot {
 public:
  TzbGErrorSlot() = default;
  TzbGErrorSlot(const TzbGErrorSlot&) = delete;
  TzbGErrorSlot& operator=(const TzbGErrorSlot&) = delete;
  GError** Out() noexcept { return &FRaw; }
  ~TzbGErrorSlot() {
    if (FRaw) g_error_free(FRaw);
  }
  explicit operator bool() const noexcept { return FRaw != nullptr; }
  const char* Message() const noexcept { return FRaw ? FRaw->message : ""; }
  const GError* Get() const noexcept { return FRaw; }

 private:
  GError* FRaw = nullptr;
};

}  // namespace zb
