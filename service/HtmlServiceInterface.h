// The bus interface as checked in (com.vestrum.Plumadesk5.HtmlService.xml), built into the program.
#pragma once

namespace zb {
extern const char* const HtmlServiceInterfaceXml;
}
