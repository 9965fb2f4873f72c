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
  const TDataCallPtr Call = TakeAsyncData<TDataCall>(AData);
  GuardCallback([&] {
    TzbGError Error;
    // The list's elements come with a reference each, which the entries take over; the list itself goes.
    const TzbOwner<GList, g_list_free> List(
        webkit_website_data_manager_fetch_finish(WEBKIT_WEBSITE_DATA_MANAGER(ASource), AResult, Error.Out()));
    for (GList* I = List.get(); I; I = I->next) Call->Entries.emplace_back(static_cast<WebKitWebsiteData*>(I->data));
    Call->Ok = !Error;
  });
  Call->Done = true;
}

void OnRemoved(GObject* ASource, GAsyncResult* AResult, gpointer AData) noexcept {
  const TDataCallPtr Call = TakeAsyncData<TDataCall>(AData);
  Call->Ok = webkit_website_data_manager_remove_finish(WEBKIT_WEBSITE_DATA_MANAGER(ASource), AResult, nullptr);
  Call->Done = true;
}

}  // namespace

bool FetchWebsiteData(WebKitWebsiteDataTypes ATypes, int ATimeoutMs, std::vector<TzbWebsiteData>& AEntries) {
  auto Call = std::make_shared<TDataCall>();
  webkit_website_data_manager_fetch(DataManager(), ATypes, nullptr, OnFetched, AsyncData(Call));
  WaitOnMainContext([&] { return Call->Done; }, ATimeoutMs);
  if (!Call->Done || !Call->Ok) return false;
  AEntries = std::move(Call->Entries);
  return true;
}

bool RemoveWebsiteData(WebKitWebsiteDataTypes ATypes, WebKitWebsiteData* AEntry, int ATimeoutMs) {
  auto Call = std::make_shared<TDataCall>();
  GList Entry{AEntry, nullptr, nullptr};
  webkit_website_data_manager_remove(DataManager(), ATypes, &Entry, nullptr, OnRemoved, AsyncData(Call));
  WaitOnMainContext([&] { return Call->Done; }, ATimeoutMs);
  return Call->Done && Call->Ok;
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
  TzbSessionState State(webkit_web_view_get_session_state(AView));
  TzbGBytes Bytes(webkit_web_view_session_state_serialize(State.get()));
  for (std::size_t F = 0; F < std::size(SessionFormats); ++F) {
    TzbGVariant Session(
        g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(SessionFormats[F]), Bytes.get(), FALSE)));
    TzbGVariant Version(g_variant_get_child_value(Session.get(), 0));
    if (g_variant_get_uint16(Version.get()) != SessionVersions[F]) continue;
    TzbGVariant Items(g_variant_get_child_value(Session.get(), 1));
    TzbGVariant Current(g_variant_get_child_value(Session.get(), 2));
    TzbGVariant Index(g_variant_get_maybe(Current.get()));
    const gsize Count = g_variant_n_children(Items.get());
    // Nothing shown, or nothing to drop.
    if (!Index || Count <= 1) return;
    const gsize Shown = g_variant_get_uint32(Index.get());
    if (Shown >= Count) return;
    const TzbGVariant Item(g_variant_get_child_value(Items.get(), Shown));  // the array takes its own reference
    GVariant* const ItemArray[] = {Item.get()};
    GVariant* Children[] = {g_variant_new_uint16(SessionVersions[F]), g_variant_new_array(nullptr, ItemArray, 1),
                            g_variant_new_maybe(G_VARIANT_TYPE_UINT32, g_variant_new_uint32(0))};
    TzbGVariant Trimmed(g_variant_ref_sink(g_variant_new_tuple(Children, std::size(Children))));
    TzbGBytes TrimmedBytes(g_variant_get_data_as_bytes(Trimmed.get()));
    TzbSessionState NewState(webkit_web_view_session_state_new(TrimmedBytes.get()));
    if (!NewState) break;
    webkit_web_view_restore_session_state(AView, NewState.get());
    return;
  }
  throw EzbOleError(E_NOINTERFACE, u"Der Verlauf der HTML-Engine hat ein unbekanntes Format");
}

}  // namespace zb::webkit
