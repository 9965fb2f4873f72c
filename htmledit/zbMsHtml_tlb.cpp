#include "htmledit/zbMsHtml_tlb.h"

#include "support/zbFormat.h"

namespace zb {

void OleCheck(HRESULT AResult) {
  if (AResult < 0)
    throw EzbOleError(AResult, Format(u"Die HTML-Engine meldet den Fehler %x", {static_cast<unsigned>(AResult)}));
}

std::u16string VarToText(const TVariant& AV) {
  switch (AV.index()) {
    case 2: return std::get<bool>(AV) ? u"True" : u"False";
    case 3: return Format(u"%d", {std::get<std::int32_t>(AV)});
    case 4: return Format(u"%g", {std::get<double>(AV)});
    case 5: return std::get<std::u16string>(AV);
    default: return u"";
  }
}

}  // namespace zb
