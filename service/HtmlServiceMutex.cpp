#include "service/HtmlServiceMutex.h"

namespace zb {

THtmlServiceMutex::THtmlServiceMutex(TzbBusServer& ABus) : FBus(ABus) { FOwned = FBus.OwnName(); }

THtmlServiceMutex::~THtmlServiceMutex() { Close(); }

void THtmlServiceMutex::Close() {
  if (!FOwned) return;
  FOwned = false;
  FBus.ReleaseName();
}

}  // namespace zb
