// The engine's website data and history: what the editor's cache and history housekeeping reaches.
// The shared web context is ephemeral, so all of it lives in memory and ends with the process.
#pragma once

#include <webkit2/webkit2.h>

#include <vector>

#include "platform/glib/zbGOwner.h"

namespace zb::webkit {

using TzbWebsiteData = TzbOwner<WebKitWebsiteData, webkit_website_data_unref>;

// Every kind of website data the engine keeps: memory and disk cache, cookies, offline application
// cache, local and session storage, databases, service workers, HSTS.
constexpr WebKitWebsiteDataTypes CacheDataTypes = WEBKIT_WEBSITE_DATA_ALL;

// The engine's entries of the kinds in ATypes, one per site. False when the engine did not answer
// within the bound.
bool FetchWebsiteData(WebKitWebsiteDataTypes ATypes, int ATimeoutMs, std::vector<TzbWebsiteData>& AEntries);
// Removes one entry's data of the kinds in ATypes; false when the engine refused or did not answer.
bool RemoveWebsiteData(WebKitWebsiteDataTypes ATypes, WebKitWebsiteData* AEntry, int ATimeoutMs);

// Empties AView's back-and-forward history down to the document it shows, which stays loaded.
// Raises EzbOleError when the engine's history has a form this build does not know.
void ClearBackForwardHistory(WebKitWebView* AView);

}  // namespace zb::webkit
