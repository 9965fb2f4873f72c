#include "platform/glib/zbGOwner.h"

#include "support/zbUnicode.h"

namespace zb {

std::u16string TzbGError::Text(std::u16string_view AFallback) const {
  if (!FRaw || !FRaw->message) return std::u16string(AFallback);
  return Utf8ToUtf16(FRaw->message);
}

}  // namespace zb
