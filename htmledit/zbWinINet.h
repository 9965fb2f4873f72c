// The engine's cache and the user's offline switch. The cache is the engine's website data (see
// docs/cache-and-offline.md); the offline switch is a value of the user's registry hive, so every
// program of the user that shares the store sees it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/regstore/RegStore.h"  // the platform's error codes

namespace zb {

// The engine did not answer within the bound (the platform's time-out code).
constexpr LSTATUS UrlCacheTimeoutError = 1460;

// One enumeration of the cache: the engine's entries when it began.
struct TzbUrlCacheEnum;
struct TzbUrlCacheEnumFree {
  void operator()(TzbUrlCacheEnum* AEnum) const noexcept;
};
using HzbUrlCacheEnum = std::unique_ptr<TzbUrlCacheEnum, TzbUrlCacheEnumFree>;

// Starts an enumeration and deletes its first entry: 0, or ERROR_NO_MORE_ITEMS for an empty cache, or
// the error of the engine's answer (AHandle stays empty then). A deletion the engine refuses is not
// reported.
LSTATUS DeleteFirstUrlCacheEntry(HzbUrlCacheEnum& AHandle);
// Deletes the next entry: 0, or ERROR_NO_MORE_ITEMS at the end.
LSTATUS DeleteNextUrlCacheEntry(const HzbUrlCacheEnum& AHandle);
// Deletes every entry. The enumeration ends at its end or at any other error, so it always ends.
void ClearUrlCache();
// The bound of every wait for the engine here, in milliseconds.
void SetUrlCacheTimeout(int AMilliseconds);

// The registry location of the offline switch (HKEY_CURRENT_USER).
constexpr const char16_t* OfflineStateKey = u"\\Software\\Vestrum\\HtmlEngine\\Connection";
// The connected state word and its flags.
constexpr const char16_t* OfflineStateValue = u"ConnectedState";
constexpr const char16_t* OfflineFlagsValue = u"ConnectedFlags";
// Bits of the state word and flags.
constexpr std::uint32_t INTERNET_STATE_CONNECTED = 0x1;
constexpr std::uint32_t INTERNET_STATE_DISCONNECTED_BY_USER = 0x10;
constexpr std::uint32_t ISO_FORCE_DISCONNECTED = 0x1;

// True exactly when the state word can be read and has INTERNET_STATE_DISCONNECTED_BY_USER.
bool ReadGlobalOffline() noexcept;
// Writes state word and flags; a failed write is not reported.
void WriteGlobalOffline(bool AValue) noexcept;

}  // namespace zb
