// The root of the owner family: a unique_ptr whose deleter is the C library's release function. It lives
// here, below platform/, because support itself takes C handles (malloc'd texts, locales);
// platform/glib/zbGOwner.h builds the GLib owners on it.
#pragma once

#include <locale.h>

#include <cstdlib>
#include <memory>
#include <type_traits>

namespace zb {

// A deleter that calls AFree; the owners are unique_ptrs with one of these.
template <auto AFree>
struct TzbFree {
  template <typename T>
  void operator()(T* AHandle) const noexcept {
    AFree(AHandle);
  }
};

template <typename T, auto AFree>
using TzbOwner = std::unique_ptr<T, TzbFree<AFree>>;

// Memory the C library hands over with malloc (realpath, __cxa_demangle, dwarf_getscopes).
template <typename T>
using TzbCMemory = TzbOwner<T, ::free>;

// A locale of newlocale; empty when the locale is not installed.
using TzbLocaleOwner = TzbOwner<std::remove_pointer_t<locale_t>, ::freelocale>;

}  // namespace zb
