// The error printing raises: page-setup values it refuses, PDFs it cannot read or write, jobs the
// print service does not take. Its messages are German, as every message of the program.
#pragma once

#include "support/zbException.h"

namespace zb::print {

class EzbPrintError : public EzbException {
 public:
  using EzbException::EzbException;
};

}  // namespace zb::print
