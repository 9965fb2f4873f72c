#include "support/zbException.h"

#include "support/zbUnicode.h"

namespace zb {

EzbException::EzbException(std::u16string AMessage) { SetMessage(std::move(AMessage)); }

EzbException::EzbException(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs) {
  SetMessage(Format(AFormat, AArgs));
}

void EzbException::SetMessage(std::u16string AMessage) {
  FMessage = std::move(AMessage);
  FUtf8 = Utf16ToUtf8(FMessage);
}

}  // namespace zb
