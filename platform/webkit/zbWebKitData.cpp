#include "platform/webkit/zbWebKitData.h"

#include <memory>

#include "platform/glib/zbCallbackGuard.h"
#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbMainWait.h"
#include "platform/webkit/zbWebKitUtils.h"

namespace zb::webkit {

namespace {

WebKitWebsiteDataManager* DataManager() { return webkit_web_context_get_website_data_manager(SharedWebContext()); }

// Shared with the callback, which may come after the caller gave up waiting.
struct TDataCall {
  bool Done = false;
  bool Ok = false;
  std::vector<TzbWebsiteData> Entries;
};

using TDataCallPtr = std::shared_ptr<TDataCall>;

void OnFetched(GObject* ASource, GAsyncResult* AResult, gpointer AData) noexcept {
  const TDataCallPtr call = TakeAsyncData<TDataCall>(AData);
  GuardCallback([&] {
    TzbGError error;
    // The list's elements come with a reference each, which the entries take over; the list itself goes.
    const TzbOwner<GList, g_list_free> list(
        webkit_website_data_manager_fetch_finish(WEBKIT_WEBSITE_DATA_MANAGER(ASource), AResult, error.Out()));
    for (GList* i = list.get(); i; i = i->next) call->Entries.emplace_back(static_cast<WebKitWebsiteData*>(i->data));
    call->Ok = !error;
  });
  call->Done = true;
}

void OnRemoved(GObject* ASource, GAsyncResult* AResult, gpointer AData) noexcept {
  const TDataCallPtr call = TakeAsyncData<TDataCall>(AData);
  call->Ok = webkit_website_data_manager_remove_finish(WEBKIT_WEBSITE_DATA_MANAGER(ASource), AResult, nullptr);
  call->Done = true;
}

}  // namespace

bool FetchWebsiteData(WebKitWebsiteDataTypes ATypes, int ATimeoutMs, std::vector<TzbWebsiteData>& AEntries) {
  auto call = std::make_shared<TDataCall>();
  webkit_website_data_manager_fetch(DataManager(), ATypes, nullptr, OnFetched, AsyncData(call));
  WaitOnMainContext([&] { return call->Done; }, ATimeoutMs);
  if (!call->Done || !call->Ok) return false;
  AEntries = std::move(call->Entries);
  return true;
}

bool RemoveWebsiteData(WebKitWebsiteDataTypes ATypes, WebKitWebsiteData* AEntry, int ATimeoutMs) {
  auto call = std::make_shared<TDataCall>();
  GList entry{AEntry, nullptr, nullptr};
  webkit_website_data_manager_remove(DataManager(), ATypes, &entry, nullptr, OnRemoved, AsyncData(call));
  WaitOnMainContext([&] { return call->Done; }, ATimeoutMs);
  return call->Done && call->Ok;
}

namespace {

using TzbSessionState = TzbOwner<WebKitWebViewSessionState, webkit_web_view_session_state_unref>;

// The engine's serialised session (format version, history entries, index of the shown entry).
// WebKitGTK offers no call that empties a view's history, but it restores a session without loading,
// so the history is rewritten to the shown entry alone. Both known formats are read; GLib answers
// defaults for bytes that do not fit a format, so the version tells which one fits.
constexpr const char* SessionFormats[] = {
    "(qa(ts(ssssasmayxx(ii)dm(sa(uaysxmxmds))av)u)mu)",
    "(qa(s(ssssasmayxx(ii)dm(sa(uaysxmxmds))av)u)mu)",
};
constexpr guint16 SessionVersions[] = {2, 1};

}  // namespace

void ClearBackForwardHistory(WebKitWebView* AView) {
  TzbSessionState state(webkit_web_view_get_session_state(AView));
  TzbGBytes bytes(webkit_web_view_session_state_serialize(state.get()));
  for (std::size_t f = 0; f < std::size(SessionFormats); ++f) {
    TzbGVariant session(
        g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(SessionFormats[f]), bytes.get(), FALSE)));
    TzbGVariant version(g_variant_get_child_value(session.get(), 0));
    if (g_variant_get_uint16(version.get()) != SessionVersions[f]) continue;
    TzbGVariant items(g_variant_get_child_value(session.get(), 1));
    TzbGVariant current(g_variant_get_child_value(session.get(), 2));
    TzbGVariant index(g_variant_get_maybe(current.get()));
    const gsize count = g_variant_n_children(items.get());
    // Nothing shown, or nothing to drop.
    if (!index || count <= 1) return;
    const gsize shown = g_variant_get_uint32(index.get());
    if (shown >= count) return;
    const TzbGVariant item(g_variant_get_child_value(items.get(), shown));  // the array takes its own reference
    GVariant* const itemArray[] = {item.get()};
    GVariant* children[] = {g_variant_new_uint16(SessionVersions[f]), g_variant_new_array(nullptr, itemArray, 1),
                            g_variant_new_maybe(G_VARIANT_TYPE_UINT32, g_variant_new_uint32(0))};
    TzbGVariant trimmed(g_variant_ref_sink(g_variant_new_tuple(children, std::size(children))));
    TzbGBytes trimmedBytes(g_variant_get_data_as_bytes(trimmed.get()));
    TzbSessionState newState(webkit_web_view_session_state_new(trimmedBytes.get()));
    if (!newState) break;
    webkit_web_view_restore_session_state(AView, newState.get());
    return;
  }
  throw EzbOleError(E_NOINTERFACE, u"Der Verlauf der HTML-Engine hat ein unbekanntes Format");
}

}  // namespace zb::webkit
