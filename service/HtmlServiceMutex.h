// The single-instance guard: the service's well-known name on the session bus, owned without
// queueing. Whoever holds the name is the one instance of this session; it is given back at exit.
#pragma once

#include "platform/bus/zbBusServer.h"

namespace zb {

class THtmlServiceMutex {
 public:
  explicit THtmlServiceMutex(TzbBusServer& ABus);
  ~THtmlServiceMutex();
  THtmlServiceMutex(const THtmlServiceMutex&) = delete;
  THtmlServiceMutex& operator=(const THtmlServiceMutex&) = delete;

  // True when another process of this session holds the guard.
  bool AlreadyExists() const { return !FOwned; }
  void Close();

 private:
  TzbBusServer& FBus;
  bool FOwned = false;
};

}  // namespace zb
