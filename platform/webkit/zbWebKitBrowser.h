// The browser object over WebKitGTK: a WebKitWebView in the caller's container or in an offscreen
// window of its own, the document model reached through scripts in a private world, and the
// download mask read from the host before every load. Documents never reach the network and page
// scripts never run, whatever the mask says.
#pragma once

#include "htmledit/zbShDocVw_tlb.h"

namespace zb::webkit {

// Name of the private script world that holds the adapter's helpers and handles.
constexpr const char* ScriptWorld = "zb-host";
// Default bound of one engine call.
constexpr int DefaultCallTimeoutMs = 30000;

std::unique_ptr<IWebBrowser2> CreateBrowser(GtkContainer* AParent, IzbBrowserHost& AHost);

}  // namespace zb::webkit
