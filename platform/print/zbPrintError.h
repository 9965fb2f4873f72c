// The error printing raises: page-setup values it refuses, PDFs it cannot read or write, jobs the
// print service does not take. Its messages are German, as every message of the program.
#pragma once

#include <string_view>

#include "support/zbException.h"

namespace zb::print {

// Texts more than one part of printing raises.
constexpr std::u16string_view SPdfNotReadable = u"Die PDF-Datei '%s' kann nicht gelesen werden: %s";
constexpr std::u16string_view SPdfNoPages = u"Die PDF-Datei '%s' enthält keine Seiten";
constexpr std::u16string_view SBadPaper = u"Ungültiges Papierformat '%s'";
constexpr std::u16string_view SNoAnswer = u"Der Druckdienst antwortet nicht (%s)";
constexpr std::u16string_view SPageSetupNotWritable = u"Die Seiteneinrichtung kann nicht gespeichert werden";

class EzbPrintError : public EzbException {
 public:
  using EzbException::EzbException;
};

}  // namespace zb::print
