#include "htmledit/zbMsHtml_tlb.h"

#include "support/zbFormat.h"

namespace zb {

void OleCheck(HRESULT AResult) {
  if (AResult < 0)
    throw EzbOleError(AResult, Format(u"Die HTML-Engine meldet den Fehler %x", {static_cast<unsigned>(AResult)}));
}

std::u16string VarToText(const TVariant& AValue) {
  switch (AValue.index()) {
    case 2: return std::get<bool>(AValue) ? u"True" : u"False";
    case 3: return Format(u"%d", {std::get<std::int32_t>(AValue)});
    case 4: return Format(u"%g", {std::get<double>(AValue)});
    case 5: return std::get<std::u16string>(AValue);
    default: return u"";
  }
}

}  // namespace zb
