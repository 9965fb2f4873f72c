// The DOM side of the adapter: helpers installed in the private script world of every document.
#pragma once

namespace zb::webkit {

// Defines globalThis.__zb in the world when missing; every script the adapter runs starts with it.
extern const char* const DomPrelude;

}  // namespace zb::webkit
