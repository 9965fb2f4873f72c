#include "htmledit/zbWinINet.h"

#include <vector>

#include "htmledit/zbHtmlEd.h"
#include "platform/webkit/zbWebKitData.h"
#include "support/zbRegistry.h"

namespace zb {

struct TzbUrlCacheEnum {
  std::vector<webkit::TzbWebsiteData> Entries;
  std::size_t Next = 0;
};

void TzbUrlCacheEnumFree::operator()(TzbUrlCacheEnum* AEnum) const noexcept { delete AEnum; }

namespace {

int GCacheTimeoutMs = DefaultWaitTimeoutMs;

// Deletes the enumeration's next entry; the engine's refusal counts as done, as an entry in use would.
LSTATUS DeleteEntry(TzbUrlCacheEnum& AEnum) {
  if (AEnum.Next >= AEnum.Entries.size()) return ERROR_NO_MORE_ITEMS;
  webkit::RemoveWebsiteData(webkit::CacheDataTypes, AEnum.Entries[AEnum.Next++].get(), GCacheTimeoutMs);
  return 0;
}

}  // namespace

void SetUrlCacheTimeout(int AMilliseconds) { GCacheTimeoutMs = AMilliseconds; }

LSTATUS DeleteFirstUrlCacheEntry(HzbUrlCacheEnum& AHandle) {
  AHandle.reset();
  HzbUrlCacheEnum cacheEnum(new TzbUrlCacheEnum);
  if (!webkit::FetchWebsiteData(webkit::CacheDataTypes, GCacheTimeoutMs, cacheEnum->Entries))
    return UrlCacheTimeoutError;
  if (cacheEnum->Entries.empty()) return ERROR_NO_MORE_ITEMS;
  AHandle = std::move(cacheEnum);
  return DeleteEntry(*AHandle);
}

LSTATUS DeleteNextUrlCacheEntry(const HzbUrlCacheEnum& AHandle) {
  return AHandle ? DeleteEntry(*AHandle) : ERROR_NO_MORE_ITEMS;
}

void ClearUrlCache() {
  HzbUrlCacheEnum handle;
  if (DeleteFirstUrlCacheEntry(handle) == 0) {
    // Each answer 0 uses up one entry of a fixed list; any other answer ends the loop.
    while (DeleteNextUrlCacheEntry(handle) == 0) {
    }
  }
  handle.reset();  // closed also when none was obtained
}

bool ReadGlobalOffline() noexcept {
  try {
    TzbRegistry reg(KEY_READ, HKEY_CURRENT_USER);
    if (!reg.OpenKeyReadOnly(OfflineStateKey)) return false;
    if (reg.GetDataSize(OfflineStateValue) != 4) return false;
    const auto state = static_cast<std::uint32_t>(reg.ReadInteger(OfflineStateValue));
    return (state & INTERNET_STATE_DISCONNECTED_BY_USER) != 0;
  } catch (...) {
    return false;
  }
}

void WriteGlobalOffline(bool AValue) noexcept {
  try {
    TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
    if (!reg.OpenKey(OfflineStateKey, true)) return;
    reg.WriteInteger(OfflineStateValue, static_cast<std::int32_t>(AValue ? INTERNET_STATE_DISCONNECTED_BY_USER
                                                                         : INTERNET_STATE_CONNECTED));
    reg.WriteInteger(OfflineFlagsValue, static_cast<std::int32_t>(AValue ? ISO_FORCE_DISCONNECTED : 0));
  } catch (...) {
    // The result of the switch is not examined.
  }
}

}  // namespace zb
