// The root of the owner family: a unique_ptr whose deleter is the C library's release function. It lives
// here, below platform/, because support itself takes C handles (malloc'd texts, locales);
// platform/glib/zbGOwner.h builds the GLib owners on it.
#pragma once

#include <dirent.h>
#include <locale.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <type_traits>
#include <utility>

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

// A stream of fopen.
using TzbFileOwner = TzbOwner<FILE, ::fclose>;

// A folder listing of opendir/fdopendir (which then owns its descriptor).
using TzbDirOwner = TzbOwner<DIR, ::closedir>;

// A file descriptor (open, socket, mkstemp); -1 is none. Close() is for a written file, whose last
// write error may only show when it is closed.
class TzbFd {
 public:
  TzbFd() = default;
  explicit TzbFd(int AFd) noexcept : FFd(AFd) {}
  TzbFd(TzbFd&& AOther) noexcept : FFd(AOther.release()) {}
  TzbFd& operator=(TzbFd&& AOther) noexcept {
    reset(AOther.release());
    return *this;
  }
  TzbFd(const TzbFd&) = delete;
  TzbFd& operator=(const TzbFd&) = delete;
  ~TzbFd() { reset(); }

  int get() const noexcept { return FFd; }
  explicit operator bool() const noexcept { return FFd >= 0; }
  int release() noexcept { return std::exchange(FFd, -1); }
  void reset(int AFd = -1) noexcept {
    if (FFd >= 0 && FFd != AFd) ::close(FFd);
    FFd = AFd;
  }
  // False when there was none or closing it failed (errno tells why).
  bool Close() noexcept { return FFd >= 0 && ::close(release()) == 0; }

 private:
  int FFd = -1;
};

}  // namespace zb
