#include "htmledit/zbMsHtml_tlb.h"

#include "support/zbFormat.h"

namespace zb {

void OleCheck(HRESULT AResult) {
  if (AResult < 0)
    throw EzbOleError(AResult, Format(u"Die HTML-Engine meldet den Fehler %x", {static_cast<unsigned>(AResult)}));
}

std::u16string VarToText(const TVariant& V) {
  switch (V.index()) {
    case 2: return std::get<bool>(V) ? u"True" : u"False";
    case 3: return Format(u"%d", {std::get<std::int32_t>(V)});
    case 4: return Format(u"%g", {std::get<double>(V)});
    case 5: return std::get<std::u16string>(V);
    default: return u"";
  }
}

}  // namespace zb
